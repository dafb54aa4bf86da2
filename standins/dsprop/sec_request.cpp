#include "standins/dsprop/sec_request.h"

#include "platform/ds_layout.h"


namespace quorvel::standins {
namespace {

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutText(std::vector<std::uint8_t>& b, std::u16string_view s) {
  for (const char16_t c : s) {
    b.push_back(static_cast<std::uint8_t>(c & 0xFF));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
}

// CLSID_MicrosoftDS {FE1290F0-CFBD-11CF-A330-00AA00C16E65} in memory order: the
// namespace the platform's pages name for directory objects.
constexpr std::uint8_t kMicrosoftDs[16] = {0xF0, 0x90, 0x12, 0xFE, 0xBD, 0xCF, 0xCF, 0x11,
                                           0xA3, 0x30, 0x00, 0xAA, 0x00, 0xC1, 0x6E, 0x65};
constexpr std::size_t kClsidNamespace = ds::kSpiObjectNames;

}  // namespace

std::optional<std::vector<RequestFault>> ParseRequestFaults(std::u16string_view list) {
  struct Word {
    std::u16string_view word;
    RequestFault fault;
  };
  static constexpr Word kWords[] = {
      {u"name-at-end", RequestFault::kNameAtEnd}, {u"no-terminator", RequestFault::kNoTerminator},
      {u"odd-offset", RequestFault::kOddOffset},  {u"short", RequestFault::kShortBlock},
      {u"wrap", RequestFault::kWrappingOffset},   {u"null", RequestFault::kNoBlock},
      {u"stale-parent", RequestFault::kStaleParent},
  };
  std::vector<RequestFault> out;
  if (list.empty()) return out;
  for (;;) {
    const std::size_t comma = list.find(u',');
    const std::u16string_view word = list.substr(0, comma);
    bool known = false;
    for (const Word& w : kWords) {
      if (w.word == word) {
        out.push_back(w.fault);
        known = true;
      }
    }
    if (!known) return std::nullopt;
    if (comma == std::u16string_view::npos) break;
    list = list.substr(comma + 1);
  }
  return out;
}

std::vector<std::uint8_t> BuildSecPageRequest(std::uint64_t parentSheet, std::u16string_view title,
                                              std::u16string_view name, std::u16string_view objectClass,
                                              RequestFault fault) {
  std::vector<std::uint8_t> b(ds::kSecPageInfoFixedSize, 0);
  if (fault == RequestFault::kNoBlock) return {};
  for (std::size_t i = 0; i < 8; ++i) b[ds::kSpiParentSheet + i] = static_cast<std::uint8_t>(parentSheet >> (8 * i));
  for (std::size_t i = 0; i < 16; ++i) b[kClsidNamespace + i] = kMicrosoftDs[i];
  Put32(b, ds::kSpiObjectNames + ds::kDonItems, 1);
  const std::size_t titleAt = b.size();
  PutText(b, title);
  const std::size_t nameAt = b.size();
  PutText(b, name);
  const std::size_t classAt = b.size();
  PutText(b, objectClass);
  Put32(b, ds::kSpiOffsetTitle, static_cast<std::uint32_t>(titleAt));
  auto fromEntry0 = [](std::size_t at) { return static_cast<std::uint32_t>(at - ds::kSpiEntry0); };
  std::uint32_t offsetName = fromEntry0(nameAt);
  std::uint32_t offsetClass = fromEntry0(classAt);
  switch (fault) {
    case RequestFault::kNone:
    case RequestFault::kNoBlock:
    case RequestFault::kStaleParent:
      break;
    case RequestFault::kNameAtEnd:
      offsetName = fromEntry0(b.size());
      break;
    case RequestFault::kNoTerminator:
      b.resize(classAt - 2);  // the class goes, and the name's terminator with it
      offsetClass = 0;
      break;
    case RequestFault::kOddOffset:
      offsetName += 1;
      break;
    case RequestFault::kShortBlock:
      b.resize(ds::kSecPageInfoFixedSize - 1);
      break;
    case RequestFault::kWrappingOffset:
      offsetName = 0xFFFFFFF0u;
      break;
  }
  const std::size_t entry0 = ds::kSpiEntry0;
  if (b.size() >= entry0 + ds::kDsObjOffsetClass + 4) {
    Put32(b, entry0 + ds::kDsObjOffsetName, offsetName);
    Put32(b, entry0 + ds::kDsObjOffsetClass, offsetClass);
  } else if (b.size() >= entry0 + ds::kDsObjOffsetName + 4) {
    Put32(b, entry0 + ds::kDsObjOffsetName, offsetName);
  }
  return b;
}

}  // namespace quorvel::standins
