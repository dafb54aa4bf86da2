#include "util/variant_convert.h"

#include "platform/automation_owners.h"
#include "util/variant_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <limits>
#include <new>

namespace quorvel {
namespace {


// Gives the caller's variant back whatever the working one holds when the call ends.
class WorkingVariant {
 public:
  explicit WorkingVariant(VARIANT& caller) : caller_(caller), work_(caller) {
    VariantInit(&caller_);
  }
  WorkingVariant(const WorkingVariant&) = delete;
  WorkingVariant& operator=(const WorkingVariant&) = delete;
  ~WorkingVariant() { caller_ = work_; }
  VARIANT& get() { return work_; }

 private:
  VARIANT& caller_;
  VARIANT work_;
};

void ClearOrThrow(VARIANT& value) {
  const HRESULT hr = VariantClear(&value);
  if (FAILED(hr)) throw HResultError(hr);
}

// The working variant becomes VT_BSTR holding `text`.
void SetText(VARIANT& work, const std::u16string& text) {
  ClearOrThrow(work);
  BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.c_str()),
                             static_cast<UINT>(text.size()));
  if (!b) {
    V_VT(&work) = VT_ERROR;
    V_ERROR(&work) = E_OUTOFMEMORY;
    throw std::bad_alloc();
  }
  V_VT(&work) = VT_BSTR;
  V_BSTR(&work) = b;
}

std::u16string Widen(const std::string& narrow) {
  // Our number texts are ASCII, which every ANSI code page keeps as it is.
  return std::u16string(narrow.begin(), narrow.end());
}

std::u16string SignedText(LONGLONG value) {
  return Widen(std::to_string(value));
}

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

double ParseR8Text(const std::u16string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  std::string number;
  std::size_t j = i;
  if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) number += static_cast<char>(text[j++]);
  std::size_t digits = 0;
  while (j < text.size() && IsDigit(text[j])) { number += static_cast<char>(text[j++]); ++digits; }
  if (j < text.size() && text[j] == u'.') {
    std::size_t k = j + 1;
    std::string fraction = ".";
    while (k < text.size() && IsDigit(text[k])) { fraction += static_cast<char>(text[k++]); ++digits; }
    if (digits > 0) { number += fraction; j = k; }
  }
  if (digits == 0) return 0.0;
  if (j < text.size() && (text[j] == u'e' || text[j] == u'E')) {
    std::size_t k = j + 1;
    std::string exponent = "e";
    if (k < text.size() && (text[k] == u'+' || text[k] == u'-')) exponent += static_cast<char>(text[k++]);
    bool any = false;
    while (k < text.size() && IsDigit(text[k])) { exponent += static_cast<char>(text[k++]); any = true; }
    if (any) number += exponent;
  }
  return std::strtod(number.c_str(), nullptr);
}

LONGLONG ParseI8Text(const std::u16string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::uint64_t magnitude = 0;
  bool overflow = false;
  const std::uint64_t limit = negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - u'0');
    if (overflow || magnitude > (limit - digit) / 10) {
      overflow = true;
      continue;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (overflow) return negative ? std::numeric_limits<LONGLONG>::min() : std::numeric_limits<LONGLONG>::max();
  if (negative) return magnitude == 0x8000000000000000ull ? std::numeric_limits<LONGLONG>::min()
                                                          : -static_cast<LONGLONG>(magnitude);
  return static_cast<LONGLONG>(magnitude);
}

void* ValuePart(VARIANT& value) { return static_cast<void*>(&V_I8(&value)); }

bool ReadsThroughValuePart(VARTYPE type) {
  switch (type) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Step 5 of the conversion: a scalar to a base type.
HRESULT ChangeScalar(VARIANT& work, VARTYPE base) {
  HRESULT hr = VariantChangeType(&work, &work, 0, base);
  if (SUCCEEDED(hr)) return hr;
  const VARTYPE source = V_VT(&work);
  if (source == VT_R8) {
    SetText(work, Widen(FormatR8Text(V_R8(&work))));
    hr = S_OK;
  } else if (source == VT_I8) {
    SetText(work, SignedText(V_I8(&work)));
    hr = S_OK;
  } else if (source == VT_UI8) {
    SetText(work, Widen(std::to_string(V_UI8(&work))));
    hr = S_OK;
  } else if (base == VT_BSTR) {
    return kNotSupported;
  } else {
    hr = VariantChangeType(&work, &work, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
  }
  const std::u16string text = BstrText(V_BSTR(&work));
  switch (base) {
    case VT_R8: {
      const double parsed = ParseR8Text(text);
      ClearOrThrow(work);
      V_VT(&work) = VT_R8;
      V_R8(&work) = parsed;
      return S_OK;
    }
    case VT_I8: {
      const LONGLONG parsed = ParseI8Text(text);
      ClearOrThrow(work);
      V_VT(&work) = VT_I8;
      V_I8(&work) = parsed;
      return S_OK;
    }
    case VT_UI8: {
      const std::uint64_t parsed = ParseUI8Text(text);
      ClearOrThrow(work);
      V_VT(&work) = VT_UI8;
      V_UI8(&work) = parsed;
      return S_OK;
    }
    default:
      return hr;  // VT_BSTR, or text left where the base type could not be reached
  }
}

}  // namespace

void VariantDeleter::operator()(VARIANT* value) const {
  VariantClear(value);
  delete value;
}

OwnedVariant MakeOwnedVariant() {
  OwnedVariant v(new VARIANT);
  VariantInit(v.get());
  return v;
}

std::string FormatR8Text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[349];
  // The exponent after rounding to five significant digits decides the notation.
  std::snprintf(buffer, sizeof buffer, "%.4e", value);
  const char* e_mark = std::strchr(buffer, 'e');
  const int exponent = e_mark ? static_cast<int>(std::strtol(e_mark + 1, nullptr, 10)) : 0;
  std::string text;
  if (exponent < -1 || exponent > 4) {
    std::string mantissa(buffer, static_cast<std::size_t>(e_mark - buffer));
    while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
    char tail[16];
    std::snprintf(tail, sizeof tail, "e%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
    text = mantissa + tail;
  } else {
    const int decimals = 4 - exponent;
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    text = buffer;
    if (decimals > 0) {
      while (!text.empty() && text.back() == '0') text.pop_back();
    }
  }
  if (text.size() >= 2 && text[0] == '-' && value == 0.0) text.erase(0, 1);
  return text;
}

std::uint64_t ParseUI8Text(const std::u16string& text) {
  std::uint64_t result = 0;
  for (const char16_t c : text) {
    if (c == 0) break;
    if (!std::iswdigit(static_cast<wint_t>(c)) && !IsDigit(c)) return 0;
    if (!IsDigit(c)) return 0;
    result = result * 10 + static_cast<std::uint64_t>(c - u'0');
  }
  return result;
}

HRESULT GetArrayRange(SAFEARRAY* array, LONG& lower, std::size_t& count) {
  count = 0;
  LONG upper = 0;
  HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
  if (FAILED(hr)) return hr;
  hr = SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) return hr;
  if (SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  const ULONG elements = array->rgsabound[0].cElements;
  if (elements == 0) return hr;
  if (static_cast<LONGLONG>(upper) - lower + 1 != LONGLONG{elements}) return E_INVALIDARG;
  count = elements;
  return hr;
}

HRESULT GetArrayElement(SAFEARRAY* array, LONG index, VARIANT& out) {
  VARTYPE type = VT_EMPTY;
  HRESULT hr = SafeArrayGetVartype(array, &type);
  if (FAILED(hr)) return hr;
  // The element services read one index a dimension: one index is an address
  // only in an array of one dimension.
  if (SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  if (type == VT_VARIANT) return SafeArrayGetElement(array, &index, &out);
  if (type == VT_DECIMAL) {
    hr = SafeArrayGetElement(array, &index, &V_DECIMAL(&out));
    V_VT(&out) = SUCCEEDED(hr) ? VT_DECIMAL : VT_EMPTY;
    return hr;
  }
  // An element type without a reader gives no value at all: a type tag over an
  // unread value part would be released as if it held something.
  if (!ReadsThroughValuePart(type)) return DISP_E_BADVARTYPE;
  hr = SafeArrayGetElement(array, &index, ValuePart(out));
  if (SUCCEEDED(hr)) V_VT(&out) = type;
  return hr;
}

void PutArrayElement(SAFEARRAY* array, LONG index, const VARIANT& element) {
  VARTYPE array_type = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &array_type)) || SafeArrayGetDim(array) != 1) return;
  if (array_type == VT_VARIANT) {
    SafeArrayPutElement(array, &index, const_cast<VARIANT*>(&element));
    return;
  }
  // A value of another type would be stored as the bytes of its own; convert it.
  UniqueVariant value;
  if (FAILED(VariantChangeType(value.get(), const_cast<VARIANT*>(&element), 0, array_type))) return;
  switch (array_type) {
    case VT_BSTR:
      SafeArrayPutElement(array, &index, V_BSTR(value.get()));
      break;
    case VT_DISPATCH: case VT_UNKNOWN:
      SafeArrayPutElement(array, &index, V_UNKNOWN(value.get()));
      break;
    case VT_DECIMAL:
      SafeArrayPutElement(array, &index, &V_DECIMAL(value.get()));
      break;
    default:
      if (ReadsThroughValuePart(array_type)) SafeArrayPutElement(array, &index, ValuePart(*value.get()));
      break;
  }
}

HRESULT SafeArrayToVariantList(const VARIANT& array_value, VariantList& list,
                               std::vector<HRESULT>* read_status) {
  list.clear();
  if (read_status) read_status->clear();
  if (V_VT(&array_value) == VT_EMPTY || V_VT(&array_value) == VT_NULL) return S_OK;
  if (!(V_VT(&array_value) & VT_ARRAY)) return E_INVALIDARG;
  // A by-reference array holds the address of the caller's array pointer; its
  // elements are those of the array that pointer names.
  SAFEARRAY* array = V_ARRAY(&array_value);
  if (V_VT(&array_value) & VT_BYREF) array = V_ARRAYREF(&array_value) ? *V_ARRAYREF(&array_value) : nullptr;
  if (!array) return E_INVALIDARG;
  LONG lower = 0;
  std::size_t count = 0;
  HRESULT hr = GetArrayRange(array, lower, count);
  if (FAILED(hr) || count == 0) return hr;
  list.resize(count);
  if (read_status) read_status->assign(count, S_OK);
  for (std::size_t position = 0; position < count; ++position) {
    OwnedVariant element = MakeOwnedVariant();
    hr = GetArrayElement(array, static_cast<LONG>(lower + static_cast<LONGLONG>(position)), *element);
    if (SUCCEEDED(hr)) list[position] = std::move(element);
    if (read_status) (*read_status)[position] = hr;
  }
  return hr;
}

HRESULT VariantListToSafeArray(VARIANT& out, const VariantList& list) {
  if (list.empty() || !list.front()) throw std::invalid_argument("empty element list");
  const VARTYPE type = V_VT(list.front().get());
  SAFEARRAYBOUND bound{static_cast<ULONG>(list.size()), 0};
  SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
  if (!array) return kNotEnoughMemory;
  V_VT(&out) = static_cast<VARTYPE>(type | VT_ARRAY);
  V_ARRAY(&out) = array;
  for (std::size_t k = 0; k < list.size(); ++k) {
    if (list[k]) PutArrayElement(array, static_cast<LONG>(k), *list[k]);
  }
  return S_OK;
}

HRESULT ChangeVariantType(VARIANT& value, VARTYPE request) {
  if (V_VT(&value) == VT_EMPTY || V_VT(&value) == VT_NULL) return S_OK;
  const bool want_array = (request & VT_ARRAY) != 0;
  const auto base = static_cast<VARTYPE>(request & ~VT_ARRAY);
  WorkingVariant holder(value);
  VARIANT& work = holder.get();
  // Every step that can fail works on copies: the caller's value goes only when
  // its replacement is whole, so that a failure leaves it as it was.
  OwnedVariant result = MakeOwnedVariant();
  HRESULT hr = S_OK;

  if (V_VT(&work) & VT_ARRAY) {
    VariantList list;
    std::vector<HRESULT> read_status;
    hr = SafeArrayToVariantList(work, list, &read_status);
    if (FAILED(hr)) return hr;
    for (std::size_t k = 0; k < list.size(); ++k) {
      // An element that could not be read fails the conversion like one that
      // cannot be converted.
      if (!list[k]) return read_status[k];
      const HRESULT element_hr = ChangeVariantType(*list[k], base);
      if (FAILED(element_hr)) return element_hr;
    }
    if (list.empty()) {
      hr = want_array ? S_FALSE : S_OK;
    } else {
      hr = VariantListToSafeArray(*result, list);
      if (FAILED(hr)) return hr;
    }
    if (!want_array && base == VT_BSTR) {
      SetText(work, VariantToText(*result));
      return hr;
    }
    if (!want_array && !list.empty()) {
      ClearOrThrow(*result);
      *result = *list.front();  // the first converted element, taken from the list
      VariantInit(list.front().get());
    }
  } else if (want_array) {
    OwnedVariant converted = MakeOwnedVariant();
    hr = VariantCopy(converted.get(), &work);
    if (FAILED(hr)) return hr;
    hr = ChangeVariantType(*converted, base);
    if (FAILED(hr)) return hr;
    VariantList list;
    list.push_back(std::move(converted));
    hr = VariantListToSafeArray(*result, list);
    if (FAILED(hr)) return hr;
  } else {
    return ChangeScalar(work, base);
  }
  ClearOrThrow(work);
  work = *result;
  VariantInit(result.get());
  return hr;
}

}  // namespace quorvel
