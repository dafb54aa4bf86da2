#include "propsheet/sheet_rules.h"

#include "platform/ds_layout.h"

#include <cstring>
#include <new>

namespace quorvel {
namespace {

constexpr std::int32_t kMaxPages = 0x0FFFFFFF;

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

void Put32(std::vector<std::uint8_t>& block, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) block[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void Put64(std::vector<std::uint8_t>& block, std::size_t at, std::uint64_t value) {
  for (std::size_t i = 0; i < 8; ++i) block[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
// The text and its terminator, UTF-16 little-endian.
void PutText(std::vector<std::uint8_t>& block, std::size_t at, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    block[at + 2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
    block[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  block[at + 2 * text.size()] = 0;
  block[at + 2 * text.size() + 1] = 0;
}
std::size_t TextBytes(std::u16string_view text) { return 2 * (text.size() + 1); }

}  // namespace

std::u16string BuildSheetCaption(std::int32_t nameResult, std::u16string_view name) {
  std::u16string caption;
  if (nameResult == 0) {
    std::u16string text(name);
    for (char16_t& c : text) c = AsciiLower(c);
    for (const std::u16string_view prefix : {u"cn=", u"dc=", u"ou="}) {
      if (text.starts_with(prefix)) {
        text.erase(0, prefix.size());
        break;
      }
    }
    for (char16_t& c : text) c = AsciiUpper(c);
    caption = text + u" - ";
  }
  caption += u"Properties";
  return caption;
}

std::optional<std::int32_t> NextPageCapacity(std::int32_t count, std::int32_t capacity) {
  if (capacity == 0) return 1;
  const std::int64_t next = std::int64_t{count} * 2;
  if (next < 0 || next > kMaxPages) return std::nullopt;
  return static_cast<std::int32_t>(next);
}

bool PageList::Append(void* page) {
  if (count_ == capacity_) {
    const std::optional<std::int32_t> grown = NextPageCapacity(count_, capacity_);
    if (!grown) return false;
    std::unique_ptr<void*[]> storage(new (std::nothrow) void*[static_cast<std::size_t>(*grown)]);
    if (!storage) return false;
    if (count_ > 0) std::memcpy(storage.get(), storage_.get(), sizeof(void*) * static_cast<std::size_t>(count_));
    storage_ = std::move(storage);
    capacity_ = *grown;
  }
  storage_[static_cast<std::size_t>(count_++)] = page;
  return true;
}

void PageList::Clear() {
  storage_.reset();
  count_ = 0;
  capacity_ = 0;
}

std::vector<std::uint8_t> RenderDisplaySpecOptionsBytes(std::u16string_view attributePrefix) {
  std::vector<std::uint8_t> block(ds::kDisplaySpecOptionsSize + TextBytes(attributePrefix), 0);
  Put32(block, ds::kDsoDwSize, ds::kDisplaySpecOptionsSize);
  Put32(block, ds::kDsoOffsetAttribPrefix, ds::kDisplaySpecOptionsSize);
  PutText(block, ds::kDisplaySpecOptionsSize, attributePrefix);
  return block;
}

std::vector<std::uint8_t> RenderObjectNamesBytes(std::u16string_view adsPath, std::u16string_view className) {
  const std::size_t classOffset = ds::kObjectNamesOneEntrySize + TextBytes(adsPath);
  std::vector<std::uint8_t> block(classOffset + TextBytes(className), 0);
  Put32(block, ds::kDonItems, 1);
  const std::size_t entry = ds::kDonEntry0;
  Put32(block, entry + ds::kDsObjProviderFlags, ds::kDsProviderAdvanced);
  Put32(block, entry + ds::kDsObjOffsetName, ds::kObjectNamesOneEntrySize);
  Put32(block, entry + ds::kDsObjOffsetClass, static_cast<std::uint32_t>(classOffset));
  PutText(block, ds::kObjectNamesOneEntrySize, adsPath);
  PutText(block, classOffset, className);
  return block;
}

std::vector<std::uint8_t> RenderPropSheetCfgBytes(std::uint64_t hiddenWindow) {
  std::vector<std::uint8_t> block(ds::kPropSheetCfgSize, 0);
  Put64(block, ds::kPscParentSheet, hiddenWindow);
  Put64(block, ds::kPscHidden, hiddenWindow);
  Put64(block, ds::kPscSheetClose, ds::kSheetCloseValue);
  return block;
}

HostFormat SelectFormat(const HostFormats& formats, std::uint16_t cfFormat) {
  if (cfFormat == formats.displaySpecOptions) return HostFormat::DisplaySpecOptions;
  if (cfFormat == formats.objectNames) return HostFormat::ObjectNames;
  if (cfFormat == formats.propSheetCfg) return HostFormat::PropSheetCfg;
  return HostFormat::None;
}

}  // namespace quorvel
