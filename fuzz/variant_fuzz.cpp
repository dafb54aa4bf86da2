// VariantToText and ChangeVariantType on values built from the input. Neither may
// change or release what the caller's value owns unless it takes the value over;
// every string, array and interface reference is released exactly once (the
// address sanitizer's leak check and the pool's reference counts tell).
#include "util/variant_convert.h"
#include "util/variant_text.h"
#include "variant_builder.h"

#include <cstring>

namespace {

using namespace quorvel;
using fuzz::Broken;

bool SameBits(const VARIANT& a, const VARIANT& b) { return std::memcmp(&a, &b, sizeof(VARIANT)) == 0; }

// What the outcome table allows after a conversion that succeeded.
void CheckConverted(const VARIANT& before, const VARIANT& after, VARTYPE request) {
  if (V_VT(&before) == VT_EMPTY || V_VT(&before) == VT_NULL) {
    if (!SameBits(before, after)) Broken("an empty or null value changed");
    return;
  }
  if (request == VT_BSTR && V_VT(&after) != VT_BSTR) Broken("a text request that succeeded gave no text");
  if (request & VT_ARRAY) {
    if (V_VT(&after) == VT_EMPTY) return;
    if (!(V_VT(&after) & VT_ARRAY) || !V_ARRAY(&after)) Broken("an array request gave no array");
    LONG lower = -1;
    if (SafeArrayGetDim(V_ARRAY(&after)) != 1 || FAILED(SafeArrayGetLBound(V_ARRAY(&after), 1, &lower)) ||
        lower != 0)
      Broken("a new array is not one-dimensional from 0");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Pool pool;
  fuzz::Reader reader(data, size);
  fuzz::Builder builder(reader, pool);
  // Mostly a base type with or without VT_ARRAY; now and then a code no conversion
  // reaches, or one with VT_BYREF.
  const std::uint8_t code = reader.Byte();
  const std::uint8_t flags = reader.Byte();
  VARTYPE request = static_cast<VARTYPE>(code % 24);
  if (flags & 2) request = fuzz::kRefusedTypes[code % std::size(fuzz::kRefusedTypes)];
  if (flags & 4) request = static_cast<VARTYPE>(request | VT_BYREF);
  if (flags & 1) request = static_cast<VARTYPE>(request | VT_ARRAY);
  VARIANT value;
  builder.Value(value, 0);

  // Rendering reads the value and leaves it as it was, the same each time.
  VARIANT before = value;
  const std::u16string text = VariantToText(value);
  if (!SameBits(before, value)) Broken("VariantToText changed its input");
  if (VariantToText(value) != text) Broken("VariantToText gave two texts for one value");
  if (text.find(u'\0') != std::u16string::npos) Broken("a zero character in the text");

  // Conversion takes a deep copy over; what it leaves is a value of its own, or,
  // after a failure, the copy as it was.
  VARIANT work;
  VariantInit(&work);
  if (SUCCEEDED(VariantCopy(&work, &value))) {
    before = work;
    const HRESULT hr = ChangeVariantType(work, request);
    if (SUCCEEDED(hr)) CheckConverted(before, work, request);
    else if (!SameBits(before, work)) Broken("a failed conversion changed the value");
    (void)VariantToText(work);
    if (FAILED(VariantClear(&work))) Broken("a conversion left a value that cannot be released");
  }
  fuzz::Builder::Release(value);
  return 0;
}
