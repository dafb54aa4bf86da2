// The platform's BSTR functions, for builds without Windows: the same layout and
// results as oleaut32's, without its cache of freed strings.
#include "platform/automation.h"

#include <cstdlib>
#include <cstring>
#include <limits>

BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
  // An 8-byte header keeps the text 8-aligned; the byte count sits just before it.
  auto* block = static_cast<char*>(std::malloc(std::size_t{length} + 8 + sizeof(OLECHAR)));
  if (!block) return nullptr;
  std::memcpy(block + 4, &length, 4);
  if (bytes) std::memcpy(block + 8, bytes, length);
  else std::memset(block + 8, 0, length);
  std::memset(block + 8 + length, 0, sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(block + 8);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (std::numeric_limits<UINT>::max() - 16) / 2) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<const char*>(text), length * 2);
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

UINT SysStringByteLen(BSTR text) {
  if (!text) return 0;
  UINT n = 0;
  std::memcpy(&n, reinterpret_cast<char*>(text) - 4, 4);
  return n;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / 2; }

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - 8);
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  BSTR fresh = SysAllocStringLen(text, length);
  if (!fresh) return 0;
  SysFreeString(*target);
  *target = fresh;
  return 1;
}

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
  UINT n = 0;
  if (text) while (text[n]) ++n;
  return SysReAllocStringLen(target, text, n);
}
