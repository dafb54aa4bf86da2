// Test helpers for UTF-16 text and byte blocks, so that a failure shows the value.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::test {

// ASCII as is, everything else as \uXXXX.
inline std::string Printable(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char* digits = "0123456789ABCDEF";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += digits[(c >> shift) & 0xF];
    }
  }
  return out;
}

// A byte block as hex, sixteen bytes a line.
inline std::string HexDump(const std::uint8_t* data, std::size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 16 == 0) out += "\n  ";
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0xF];
    out += ' ';
  }
  return out;
}

inline std::string HexDump(const std::vector<std::uint8_t>& bytes) {
  return HexDump(bytes.data(), bytes.size());
}

}  // namespace quorvel::test
