// GetDelimitedField in both forms: the field is always a piece of the source, and
// the last-error code tells success from failure.
#include "fuzz_input.h"
#include "platform/last_error.h"
#include "util/delimited_field.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  if (size < 5) return 0;
  const std::int32_t index = static_cast<std::int32_t>(static_cast<std::uint32_t>(data[0]) |
                                                       static_cast<std::uint32_t>(data[1]) << 8) -
                             4;  // mostly small, some negative
  const std::size_t delimiterUnits = data[2] % 4;
  const std::u16string all = fuzz::TextFrom(data + 3, size - 3);
  if (all.size() < delimiterUnits) return 0;
  const std::u16string delimiter = all.substr(0, delimiterUnits);
  const std::u16string source = all.substr(delimiterUnits);

  SetLastErrorCode(0xDEAD);
  const std::u16string field = GetDelimitedField(source, delimiter, index);
  const std::uint32_t code = GetLastErrorCode();
  if (code != 0 && code != 87) fuzz::Broken("last-error code neither 0 nor 87");
  if (code == 87 && !field.empty()) fuzz::Broken("a failure returned text");
  if (!field.empty() && source.find(field) == std::u16string::npos)
    fuzz::Broken("the field is not part of the source");
  if (delimiter.size() == 1 && field.find(delimiter[0]) != std::u16string::npos)
    fuzz::Broken("a separator inside a field");
  if (delimiter.size() >= 2 && delimiter[0] != delimiter[1] && index > 0 &&
      field.find(delimiter[1]) != std::u16string::npos)
    fuzz::Broken("a closing character inside a bracketed field");
  return 0;
}
