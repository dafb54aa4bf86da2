// Rules of the property sheet host that need no platform service: the caption,
// the page list's growth and the three data blocks, byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The caption for the name lookup's result code and text.
std::u16string BuildSheetCaption(std::int32_t nameResult, std::u16string_view name);

// The capacity the page list grows to when it is full, or nothing when it may not grow.
std::optional<std::int32_t> NextPageCapacity(std::int32_t count, std::int32_t capacity);

// Growable list of page handles with the host's growth rule.
class PageList {
 public:
  // Appends the handle; false when the list could not grow (the handle is dropped).
  bool Append(void* page);
  void Clear();
  std::int32_t count() const { return count_; }
  std::int32_t capacity() const { return capacity_; }
  void* const* data() const { return storage_.get(); }
  void** data() { return storage_.get(); }

 private:
  std::unique_ptr<void*[]> storage_;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

inline constexpr char16_t kAttributePrefix[] = u"admin";

std::vector<std::uint8_t> RenderDisplaySpecOptionsBytes(std::u16string_view attributePrefix);
std::vector<std::uint8_t> RenderObjectNamesBytes(std::u16string_view adsPath, std::u16string_view className);
std::vector<std::uint8_t> RenderPropSheetCfgBytes(std::uint64_t hiddenWindow);

// Which of the host's three formats a request names, in the host's order of tests.
enum class HostFormat { None, DisplaySpecOptions, ObjectNames, PropSheetCfg };
struct HostFormats {
  std::uint16_t displaySpecOptions;
  std::uint16_t objectNames;
  std::uint16_t propSheetCfg;
};
HostFormat SelectFormat(const HostFormats& formats, std::uint16_t cfFormat);
inline constexpr std::uint32_t kTymedHGlobal = 1;

}  // namespace quorvel
