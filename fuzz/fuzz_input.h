// Turns fuzz bytes into UTF-16 text: two bytes a code unit, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::fuzz {

inline std::u16string TextFrom(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  text.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return text;
}

// Stops the run with a message that libFuzzer's crash report shows.
[[noreturn]] inline void Broken(const char* what) {
  __builtin_printf("invariant broken: %s\n", what);
  __builtin_trap();
}

}  // namespace quorvel::fuzz
