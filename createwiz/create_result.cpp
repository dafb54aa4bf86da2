#include "createwiz/create_result.h"

namespace quorvel {
namespace {

constexpr HRESULT kClassNotRegistered = static_cast<HRESULT>(0x80040154);  // REGDB_E_CLASSNOTREG
constexpr HRESULT kNoAggregation = static_cast<HRESULT>(0x80040110);       // CLASS_E_NOAGGREGATION
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);         // E_NOINTERFACE

void PutField(CreateObjResultRecord& record, std::size_t offset, std::size_t capacity,
              std::u16string_view value) {
  if (value.size() > capacity) return;
  std::size_t at = offset;
  for (const char16_t unit : value) {
    record.bytes[at++] = static_cast<std::uint8_t>(unit & 0xFF);
    record.bytes[at++] = static_cast<std::uint8_t>(unit >> 8);
  }
}

}  // namespace

std::u16string ClassNameForObjectType(std::int32_t objectType) {
  switch (objectType) {
    case 0: return u"user";
    case 1: return u"group";
    case 2: return u"computer";
    default: return std::u16string();
  }
}

HRESULT MapCreateResult(HRESULT result) {
  if (result == kClassNotRegistered || result == kNoAggregation) return kNoInterface;
  return result;
}

std::u16string TrimValueText(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u"{'");
  if (first == std::u16string_view::npos) return std::u16string();
  const std::size_t last = text.find_last_not_of(u"'}");
  // last before first: what the start left is all closing characters, "}" first.
  if (last == std::u16string_view::npos || last < first) return std::u16string();
  return std::u16string(text.substr(first, last - first + 1));
}

CreateObjResultRecord BuildResultRecord(std::u16string_view distinguishedName,
                                        std::u16string_view name,
                                        std::u16string_view accountName) {
  using R = CreateObjResultRecord;
  R record;
  PutField(record, R::kDistinguishedNameOffset, R::kDistinguishedNameUnits, distinguishedName);
  PutField(record, R::kNameOffset, R::kNameUnits, name);
  PutField(record, R::kAccountNameOffset, R::kAccountNameUnits, accountName);
  return record;
}

std::vector<std::uint8_t> BuildRunRecord(const CreateObjResultRecord& record, std::u16string_view thirdArgument) {
  if (thirdArgument.empty()) return {};
  std::vector<std::uint8_t> bytes(record.bytes.begin(), record.bytes.end());
  bytes.reserve(CreateObjResultRecord::kSize + 2 * (thirdArgument.size() + 1));
  for (const char16_t unit : thirdArgument) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes.insert(bytes.end(), 2, 0);
  return bytes;
}

}  // namespace quorvel
