// The request block for a secondary sheet as a page may send it, and the three
// blocks the host renders for its pages: every byte read lies inside the block
// (the address sanitizer tells), a name is found only with its terminator inside,
// the Windows 5.0 layout moves the bytes as the page expects, and each rendered
// block reads back as what went in.
#include "fuzz_input.h"
#include "platform/ds_layout.h"
#include "propsheet/sec_page_info.h"
#include "propsheet/sheet_rules.h"

#include <cstring>
#include <vector>

namespace {

using namespace quorvel;
using fuzz::Broken;

std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t Read64(const std::uint8_t* p) {
  return Read32(p) | static_cast<std::uint64_t>(Read32(p + 4)) << 32;
}

// `text` and its terminator at `offset`, all inside the block.
bool HoldsText(const std::vector<std::uint8_t>& block, std::size_t offset, std::u16string_view text) {
  if (offset > block.size() || block.size() - offset < 2 * (text.size() + 1)) return false;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const auto unit = static_cast<char16_t>(block[offset + 2 * i] | block[offset + 2 * i + 1] << 8);
    if (unit != (i < text.size() ? text[i] : u'\0')) return false;
  }
  return true;
}

void CheckRequestBlock(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so that a read past the end is caught.
  std::vector<std::uint8_t> block(data, data + size);
  const std::uint8_t* p = block.empty() ? nullptr : block.data();
  if (const auto name = LocateSecPageName(p, size)) {
    if (size < ds::kSecPageInfoFixedSize) Broken("a name in a block without the fixed part");
    const std::uint64_t start = ds::kSpiEntry0 + std::uint64_t{Read32(p + ds::kSpiEntry0OffsetName)};
    if (start > size || !HoldsText(block, static_cast<std::size_t>(start), *name))
      Broken("the name and its terminator are not where the block says");
    if (SecPagePath(*name) != u"LDAP://" + *name) Broken("the path is not LDAP:// and the name");
  }
  if (const auto out = RelayoutSecPageInfoFor50(p, size)) {
    if (size < ds::kSecPageInfo50FixedSize) Broken("a re-layout of a block without the fixed part");
    if (out->size() != size + 8) Broken("the re-laid block is not 8 bytes larger");
    if (Read64(out->data()) != 0) Broken("the re-laid block names a parent sheet");
    if (Read32(out->data() + ds::kSpiOffsetTitle) != Read32(p) + 8u) Broken("the title offset is not moved by 8");
    if (std::memcmp(out->data() + 12, p + 4, size - 4) != 0) Broken("the received bytes are not moved by 8");
  } else if (size >= ds::kSecPageInfo50FixedSize) {
    Broken("a request block with its fixed part was not re-laid");
  }
}

void CheckRenderedBlocks(const std::uint8_t* data, std::size_t size) {
  if (size < 10) return;
  const std::uint64_t window = Read64(data);
  const std::size_t split = data[8];
  const std::u16string all = fuzz::TextFrom(data + 9, size - 9);
  const std::size_t at = std::min(split, all.size());
  const std::u16string path = all.substr(0, at), cls = all.substr(at);

  const std::vector<std::uint8_t> options = RenderDisplaySpecOptionsBytes(cls);
  if (options.size() != ds::kDisplaySpecOptionsSize + 2 * (cls.size() + 1) ||
      Read32(options.data() + ds::kDsoDwSize) != ds::kDisplaySpecOptionsSize ||
      Read32(options.data() + ds::kDsoOffsetAttribPrefix) != ds::kDisplaySpecOptionsSize ||
      !HoldsText(options, ds::kDisplaySpecOptionsSize, cls))
    Broken("DsDisplaySpecOptions does not read back");
  for (const std::size_t field : {ds::kDsoFlags, ds::kDsoOffsetUserName, ds::kDsoOffsetPassword,
                                  ds::kDsoOffsetServer, ds::kDsoOffsetServerConfigPath}) {
    if (Read32(options.data() + field) != 0) Broken("DsDisplaySpecOptions sets a field it has no value for");
  }

  const std::vector<std::uint8_t> names = RenderObjectNamesBytes(path, cls);
  const std::size_t entry = ds::kDonEntry0;
  const std::size_t nameAt = Read32(names.data() + entry + ds::kDsObjOffsetName);
  const std::size_t classAt = Read32(names.data() + entry + ds::kDsObjOffsetClass);
  if (names.size() != ds::kObjectNamesOneEntrySize + 2 * (path.size() + 1) + 2 * (cls.size() + 1) ||
      Read32(names.data() + ds::kDonItems) != 1 ||
      Read32(names.data() + entry + ds::kDsObjProviderFlags) != ds::kDsProviderAdvanced ||
      nameAt != ds::kObjectNamesOneEntrySize || !HoldsText(names, nameAt, path) ||
      classAt != nameAt + 2 * (path.size() + 1) || !HoldsText(names, classAt, cls))
    Broken("DsObjectNames does not read back");

  const std::vector<std::uint8_t> cfg = RenderPropSheetCfgBytes(window);
  if (cfg.size() != ds::kPropSheetCfgSize || Read64(cfg.data() + ds::kPscNotifyHandle) != 0 ||
      Read64(cfg.data() + ds::kPscParentSheet) != window || Read64(cfg.data() + ds::kPscHidden) != window ||
      Read64(cfg.data() + ds::kPscSheetClose) != ds::kSheetCloseValue)
    Broken("DsPropSheetCfgClipFormat does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckRequestBlock(data, size);
  CheckRenderedBlocks(data, size);
  return 0;
}
