// Coercion between automation value types, for builds without Windows:
// VariantChangeType(Ex) with the platform's number, text and date rules for US
// English (LCID 0x0409). It builds on the BSTR functions and on value lifetime,
// neither of which calls back into it.
#include "platform/oleaut/value_lifetime.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

using quorvel::oleaut::ValidateVariantType;

namespace {

// The platform's double of a decimal: one division by the scale's power of ten,
// built by repeated multiplication, the sign on the divisor (so -0 gives +0).
double DecimalValue(const DECIMAL& d) {
  double divisor = 1.0;
  for (int s = 0; s < d.scale; ++s) divisor *= 10.0;
  if (d.sign & DECIMAL_NEG) divisor = -divisor;
  double high = 0.0;
  if (d.Hi32) high = static_cast<double>(d.Hi32) / divisor * 4294967296.0 * 4294967296.0;
  return static_cast<double>(d.Lo64) / divisor + high;
}

// A numeric view of a source value. Currency (`i` in units of 1/10000) and
// decimals keep their exact value until a target needs a double.
struct Number {
  enum Kind { kInt, kUInt, kReal, kCy, kDec } kind = kInt;
  long long i = 0;
  unsigned long long u = 0;
  double r = 0;
  DECIMAL d{};
  bool hex = false;  // written as &H digits
  double AsReal() const {
    switch (kind) {
      case kReal: return r;
      case kUInt: return static_cast<double>(u);
      case kCy: return static_cast<double>(i) / 10000.0;
      case kDec: return DecimalValue(d);
      default: return static_cast<double>(i);
    }
  }
};

double RoundHalfEven(double x) {
  const double f = std::floor(x);
  const double diff = x - f;
  if (diff > 0.5) return f + 1;
  if (diff < 0.5) return f;
  return std::fmod(f, 2.0) == 0.0 ? f : f + 1;
}

// A decimal digit string into 96 bits; false when it does not fit.
bool Digits96Value(const std::string& digits, DECIMAL& d) {
  ULONG parts[3] = {0, 0, 0};  // most significant first
  for (const char c : digits) {
    unsigned long long carry = static_cast<unsigned long long>(c - '0');
    for (int k = 2; k >= 0; --k) {
      const unsigned long long cur = parts[k] * 10ULL + carry;
      parts[k] = static_cast<ULONG>(cur);
      carry = cur >> 32;
    }
    if (carry) return false;
  }
  d.Hi32 = parts[0];
  d.Lo64 = (static_cast<ULONGLONG>(parts[1]) << 32) | parts[2];
  return true;
}

// The platform's decimal of a double: the binary value's exact digits, cut to 28
// decimals, then to fewer than 2^53 units (2^24 for a float) while any decimals
// remain, rounded on the last digit cut, without trailing zeros.
HRESULT DecimalFromReal(double r, bool single, DECIMAL& d) {
  d = DECIMAL{};
  if (std::isnan(r)) return DISP_E_BADVARTYPE;
  if (std::isinf(r) || std::fabs(r) >= 7.9228162514264338e28) return DISP_E_OVERFLOW;
  if (r == 0.0) return S_OK;
  char buffer[800];
  std::snprintf(buffer, sizeof buffer, "%.760e", std::fabs(r));  // every digit of a double
  const char* e_mark = std::strchr(buffer, 'e');
  std::string digits(1, buffer[0]);
  digits.append(buffer + 2, static_cast<std::size_t>(e_mark - (buffer + 2)));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int scale = static_cast<int>(digits.size()) - 1 - static_cast<int>(std::strtol(e_mark + 1, nullptr, 10));
  if (scale < 0) {
    digits.append(static_cast<std::size_t>(-scale), '0');
    scale = 0;
  }
  const unsigned long long limit = single ? 1ULL << 24 : 1ULL << 53;
  const auto too_many = [&] {
    return digits.size() > 16 || std::strtoull(digits.c_str(), nullptr, 10) >= limit;
  };
  int cut = 0;
  while (scale > 0 && (scale > 28 || too_many())) {
    cut = digits.empty() ? 0 : digits.back() - '0';
    if (!digits.empty()) digits.pop_back();
    --scale;
  }
  if (digits.empty()) digits = "0";
  if (cut >= 5) {
    std::size_t k = digits.size();
    while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
    if (k == 0) digits.insert(digits.begin(), '1');
    else ++digits[k - 1];
  }
  while (scale > 0 && digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
    --scale;
  }
  if (!Digits96Value(digits, d)) return DISP_E_OVERFLOW;
  if (d.Hi32 == 0 && d.Lo64 == 0) return S_OK;
  d.scale = static_cast<BYTE>(scale);
  d.sign = static_cast<BYTE>(r < 0 ? DECIMAL_NEG : 0);
  return S_OK;
}

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

BSTR NewBstr(const std::u16string& t) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(t.c_str()), static_cast<UINT>(t.size()));
}

// Digits of a 96-bit unsigned integer.
std::string Digits96(ULONG hi, ULONGLONG lo) {
  ULONG parts[3] = {hi, static_cast<ULONG>(lo >> 32), static_cast<ULONG>(lo)};
  std::string out;
  while (parts[0] || parts[1] || parts[2]) {
    unsigned long long rem = 0;
    for (ULONG& p : parts) {
      const unsigned long long cur = (rem << 32) | p;
      p = static_cast<ULONG>(cur / 10);
      rem = cur % 10;
    }
    out.insert(out.begin(), static_cast<char>('0' + rem));
  }
  return out.empty() ? "0" : out;
}

std::string ScaledText(std::string digits, int scale, bool negative) {
  if (scale > 0) {
    while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - scale, '.');
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  if (negative && digits != "0") digits.insert(digits.begin(), '-');
  return digits;
}

std::string RealText(double v, int precision) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", precision, v);
  std::string s = buf;
  if (s == "-0") s = "0";
  // The platform writes at least two exponent digits.
  return s;
}

void CivilFromDays(long long z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

// Whether the text has a date and a time follows the value as it stands, what
// they say the value rounded to the second: 0.999999 is 12:00:00 AM, and 2.0000001
// still shows its time, 12:00:00 AM.
std::string DateText(double date) {
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  const bool has_date = whole != 0;
  const bool has_time = fraction != 0 || whole == 0;
  long long seconds = std::llround(fraction * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += date < 0 ? -1 : 1;
  }
  // Day 0 is 30 December 1899, 25569 days before 1 January 1970.
  int y = 0;
  unsigned m = 0;
  unsigned d = 0;
  CivilFromDays(static_cast<long long>(whole) - 25569, y, m, d);
  char buf[64];
  std::string out;
  if (has_date) {
    std::snprintf(buf, sizeof buf, "%u/%u/%d", m, d, y);
    out = buf;
  }
  if (has_time) {
    const long long h = seconds / 3600;
    const long long mi = seconds / 60 % 60;
    const long long s = seconds % 60;
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld %s", h % 12 == 0 ? 12 : h % 12, mi, s,
                  h < 12 ? "AM" : "PM");
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

// Number text as the platform reads it for US English: white space (the no-break
// and ideographic spaces count too), a sign before or after the digits or
// parentheses round them, a leading dollar sign, thousands commas, &H and hex
// digits; the boolean words, with or without #...#, only for a boolean target.
HRESULT ParseNumberText(BSTR text, Number& n, bool& is_bool) {
  std::string s;
  const UINT len = SysStringLen(text);
  for (UINT i = 0; i < len; ++i) {
    const char16_t c = reinterpret_cast<const char16_t*>(text)[i];
    if (c == 0x00A0 || c == 0x3000) s += ' ';
    else if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    else s += static_cast<char>(c);
  }
  std::size_t b = s.find_first_not_of(" \t");
  std::size_t e = s.find_last_not_of(" \t");
  if (b == std::string::npos) return DISP_E_TYPEMISMATCH;
  s = s.substr(b, e - b + 1);
  is_bool = false;
  std::string lower;
  for (char c : s) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (lower == "true" || lower == "false" || lower == "#true#" || lower == "#false#") {
    is_bool = true;
    n.kind = Number::kInt;
    n.i = lower.find("true") != std::string::npos ? -1 : 0;
    return S_OK;
  }
  bool negative = false;
  if (s.size() > 2 && s.front() == '(' && s.back() == ')') {
    negative = true;
    s = s.substr(1, s.size() - 2);
  } else if (s.size() > 1 && s.back() == '-' && s.front() != '-' && s.front() != '+') {
    negative = true;
    s.pop_back();
  }
  if (!s.empty() && s.front() == '$') s.erase(0, 1);
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'h' || s[1] == 'H')) {
    unsigned long long u = 0;
    for (std::size_t k = 2; k < s.size(); ++k) {
      const char c = static_cast<char>(s[k] | 0x20);
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return DISP_E_TYPEMISMATCH;
      if (u >> 60) return DISP_E_OVERFLOW;
      u = u * 16 + static_cast<unsigned>(digit);
    }
    n.hex = true;
    if (u > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
      if (negative) return DISP_E_OVERFLOW;
      n.kind = Number::kUInt;
      n.u = u;
    } else {
      n.kind = Number::kInt;
      n.i = negative ? -static_cast<long long>(u) : static_cast<long long>(u);
    }
    return S_OK;
  }
  if (negative) {
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) return DISP_E_TYPEMISMATCH;
    s.insert(s.begin(), '-');
  }
  std::string clean;
  for (char c : s) if (c != ',') clean += c;
  char* end = nullptr;
  const double v = std::strtod(clean.c_str(), &end);
  if (end == clean.c_str() || *end != '\0') return DISP_E_TYPEMISMATCH;
  if (clean.find_first_of("xXnN") != std::string::npos) return DISP_E_TYPEMISMATCH;
  if (std::isinf(v)) return DISP_E_OVERFLOW;  // beyond any double
  if (clean.find_first_of(".eE") == std::string::npos) {
    errno = 0;
    const long long i = std::strtoll(clean.c_str(), &end, 10);
    if (errno == 0 && *end == '\0') {
      // "-0" keeps its sign for the real targets; integers take it as 0.
      if (i == 0 && clean[0] == '-') {
        n.kind = Number::kReal;
        n.r = -0.0;
        return S_OK;
      }
      n.kind = Number::kInt;
      n.i = i;
      return S_OK;
    }
    errno = 0;
    const unsigned long long u = std::strtoull(clean.c_str(), &end, 10);
    if (errno == 0 && *end == '\0' && clean[0] != '-') {
      n.kind = Number::kUInt;
      n.u = u;
      return S_OK;
    }
  }
  n.kind = Number::kReal;
  n.r = v;
  return S_OK;
}

HRESULT InvokeValue(IDispatch* disp, LCID lcid, VARIANT& out) {
  if (!disp) return DISP_E_BADVARTYPE;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VariantInit(&out);
  const HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &out,
                                  nullptr, nullptr);
  return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

template <typename T>
HRESULT StoreInteger(const Number& n, T& out) {
  using L = std::numeric_limits<T>;
  constexpr bool kEightBytes = sizeof(T) == 8;
  if (n.kind == Number::kCy && kEightBytes && L::is_signed) {
    // The platform truncates a negative amount and then takes one off, a whole
    // amount too; a positive one it rounds half to even.
    long long whole = n.i / 10000;
    const long long part = n.i % 10000;
    if (n.i < 0) --whole;
    else if (part > 5000 || (part == 5000 && (whole & 1))) ++whole;
    out = static_cast<T>(whole);
    return S_OK;
  }
  if (n.kind == Number::kDec && n.d.scale == 0) {
    // A whole decimal converts exactly; VT_UI8 refuses any with the sign, -0 too.
    const bool negative = (n.d.sign & DECIMAL_NEG) != 0;
    if (n.d.Hi32) return DISP_E_OVERFLOW;
    if (kEightBytes && !L::is_signed) {
      if (negative) return DISP_E_OVERFLOW;
      out = static_cast<T>(n.d.Lo64);
      return S_OK;
    }
    if (n.d.Lo64 >> 63) return DISP_E_OVERFLOW;
    Number whole;
    whole.i = negative ? -static_cast<long long>(n.d.Lo64) : static_cast<long long>(n.d.Lo64);
    return StoreInteger(whole, out);
  }
  if (n.kind == Number::kReal || n.kind == Number::kCy || n.kind == Number::kDec) {
    const double real = n.AsReal();
    if (std::isnan(real)) return DISP_E_OVERFLOW;
    const double r = RoundHalfEven(real);
    if (r < static_cast<double>(L::min()) || r >= static_cast<double>(L::max()) + 1.0) return DISP_E_OVERFLOW;
    out = static_cast<T>(static_cast<long double>(r));
    return S_OK;
  }
  if (n.kind == Number::kUInt) {
    if (n.u > static_cast<unsigned long long>(L::max())) return DISP_E_OVERFLOW;
    out = static_cast<T>(n.u);
    return S_OK;
  }
  if (n.i < 0 && !L::is_signed) return DISP_E_OVERFLOW;
  if (L::is_signed) {
    if (n.i < static_cast<long long>(L::min()) || n.i > static_cast<long long>(L::max())) return DISP_E_OVERFLOW;
  } else if (static_cast<unsigned long long>(n.i) > static_cast<unsigned long long>(L::max())) {
    return DISP_E_OVERFLOW;
  }
  out = static_cast<T>(n.i);
  return S_OK;
}

HRESULT Coerce(VARIANT& out, const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt);

HRESULT NumberOf(const VARIANT& src, LCID lcid, Number& n, VARTYPE target) {
  switch (V_VT(&src)) {
    case VT_EMPTY: n.kind = Number::kInt; n.i = 0; return S_OK;
    case VT_I1: n.i = V_I1(&src); return S_OK;  // NOLINT(bugprone-signed-char-misuse,cert-str34-c): VT_I1 is signed
    case VT_I2: n.i = V_I2(&src); return S_OK;
    case VT_I4: n.i = V_I4(&src); return S_OK;
    case VT_INT: n.i = V_INT(&src); return S_OK;
    case VT_I8: n.i = V_I8(&src); return S_OK;
    case VT_UI1: n.i = V_UI1(&src); return S_OK;
    case VT_UI2: n.i = V_UI2(&src); return S_OK;
    case VT_UI4: n.i = V_UI4(&src); return S_OK;
    case VT_UINT: n.i = V_UINT(&src); return S_OK;
    case VT_UI8: n.kind = Number::kUInt; n.u = V_UI8(&src); return S_OK;
    case VT_BOOL: n.i = V_BOOL(&src); return S_OK;
    case VT_R4: n.kind = Number::kReal; n.r = static_cast<double>(V_R4(&src)); return S_OK;
    case VT_R8: n.kind = Number::kReal; n.r = V_R8(&src); return S_OK;
    case VT_DATE: n.kind = Number::kReal; n.r = V_DATE(&src); return S_OK;
    case VT_CY: n.kind = Number::kCy; n.i = V_CY(&src).int64; return S_OK;
    case VT_DECIMAL: n.kind = Number::kDec; n.d = V_DECIMAL(&src); return S_OK;
    case VT_BSTR: {
      bool is_bool = false;
      const HRESULT hr = ParseNumberText(V_BSTR(&src), n, is_bool);
      if (FAILED(hr)) return hr;
      if (is_bool && target != VT_BOOL) return DISP_E_TYPEMISMATCH;
      return S_OK;
    }
    case VT_DISPATCH: {
      VARIANT value;
      HRESULT hr = InvokeValue(V_DISPATCH(&src), lcid, value);
      if (FAILED(hr)) return hr;
      VARIANT converted;
      VariantInit(&converted);
      hr = VariantChangeTypeEx(&converted, &value, lcid, 0, VT_R8);
      VariantClear(&value);
      if (FAILED(hr)) return hr;
      n.kind = Number::kReal;
      n.r = V_R8(&converted);
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToText(VARIANT& out, const VARIANT& src, LCID lcid, USHORT flags) {
  std::string text;
  switch (V_VT(&src)) {
    case VT_EMPTY: break;
    case VT_BOOL:
      if (flags & VARIANT_ALPHABOOL) text = V_BOOL(&src) ? "True" : "False";
      else text = std::to_string(V_BOOL(&src));
      break;
    case VT_R4: text = RealText(static_cast<double>(V_R4(&src)), 7); break;
    case VT_R8: text = RealText(V_R8(&src), 15); break;
    case VT_DATE:
      // Outside 1 January 100 to 31 December 9999 there is no calendar date: the
      // platform refuses the value, and the day count would overflow.
      if (!(V_DATE(&src) > -657435.0 && V_DATE(&src) < 2958466.0)) return E_INVALIDARG;
      text = DateText(V_DATE(&src));
      break;
    case VT_CY: {
      const long long c = V_CY(&src).int64;
      const unsigned long long mag = c < 0 ? 0 - static_cast<unsigned long long>(c) : static_cast<unsigned long long>(c);
      text = ScaledText(std::to_string(mag), 4, c < 0);
      break;
    }
    case VT_DECIMAL: {
      const DECIMAL& d = V_DECIMAL(&src);
      text = ScaledText(Digits96(d.Hi32, d.Lo64), d.scale, (d.sign & DECIMAL_NEG) != 0);
      break;
    }
    case VT_UI8: text = std::to_string(V_UI8(&src)); break;
    case VT_DISPATCH: {
      VARIANT value;
      HRESULT hr = InvokeValue(V_DISPATCH(&src), lcid, value);
      if (FAILED(hr)) return hr;
      hr = VariantChangeTypeEx(&out, &value, lcid, flags, VT_BSTR);
      VariantClear(&value);
      return hr;
    }
    default: {
      Number n;
      if (V_VT(&src) > VT_UINT || V_VT(&src) == VT_NULL || V_VT(&src) == VT_ERROR ||
          V_VT(&src) == VT_UNKNOWN || V_VT(&src) == VT_VARIANT) {
        return DISP_E_TYPEMISMATCH;
      }
      const HRESULT hr = NumberOf(src, lcid, n, VT_BSTR);
      if (FAILED(hr)) return hr;
      text = std::to_string(n.i);
      break;
    }
  }
  BSTR b = NewBstr(Widen(text));
  if (!b) return E_OUTOFMEMORY;
  V_VT(&out) = VT_BSTR;
  V_BSTR(&out) = b;
  return S_OK;
}

HRESULT Coerce(VARIANT& out, const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt) {
  const VARTYPE from = V_VT(&src);
  if (vt == from) return VariantCopy(&out, &src);
  switch (vt) {
    case VT_EMPTY:
      if (from == VT_NULL) return DISP_E_TYPEMISMATCH;
      [[fallthrough]];
    case VT_NULL:
      if (from <= VT_UINT && from != 15 && from != VT_ERROR) {
        V_VT(&out) = vt;
        return S_OK;
      }
      return DISP_E_TYPEMISMATCH;
    case VT_BSTR:
      if (from == VT_NULL || from == VT_ERROR || from == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
      return ToText(out, src, lcid, flags);
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if ((from == VT_UNKNOWN || from == VT_DISPATCH) && !V_UNKNOWN(&src)) {
        V_VT(&out) = vt;  // a null interface is null as either
        V_UNKNOWN(&out) = nullptr;
        return S_OK;
      }
      if (from == VT_UNKNOWN || from == VT_DISPATCH) {
        void* p = nullptr;
        const HRESULT hr = V_UNKNOWN(&src)->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch, &p);
        if (FAILED(hr)) return hr;
        V_VT(&out) = vt;
        V_UNKNOWN(&out) = static_cast<IUnknown*>(p);
        return S_OK;
      }
      return DISP_E_TYPEMISMATCH;
    case VT_ERROR:
    case VT_VARIANT:
      return DISP_E_TYPEMISMATCH;
    default:
      break;
  }
  if (from == VT_NULL || from == VT_ERROR || from == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  if (from == VT_DISPATCH && !V_DISPATCH(&src)) return DISP_E_BADVARTYPE;
  // Between integers of one width the platform keeps the bits: -1 becomes 65535.
  const auto width = [](VARTYPE t) -> int {
    switch (t) {
      case VT_I1: case VT_UI1: return 1;
      case VT_I2: case VT_UI2: case VT_BOOL: return 2;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: return 4;
      case VT_I8: case VT_UI8: return 8;
      default: return 0;
    }
  };
  // A boolean converts to every integer type by its bits, sign extended.
  if (from == VT_BOOL && width(vt) != 0) {
    V_VT(&out) = vt;
    const auto bits = static_cast<long long>(V_BOOL(&src));
    std::memcpy(&V_I8(&out), &bits, sizeof bits);
    return S_OK;
  }
  if (width(from) != 0 && width(from) == width(vt) && vt != VT_BOOL) {
    V_VT(&out) = vt;
    V_I8(&out) = 0;
    std::memcpy(&V_I8(&out), &V_I8(&src), static_cast<std::size_t>(width(vt)));
    return S_OK;
  }
  if (vt == VT_DATE && from == VT_BSTR) return DISP_E_TYPEMISMATCH;  // date texts are not read here
  Number n;
  HRESULT hr = NumberOf(src, lcid, n, vt);
  if (FAILED(hr)) return hr;
  V_VT(&out) = vt;
  switch (vt) {
    case VT_I1: return StoreInteger(n, V_I1(&out));
    case VT_UI1: return StoreInteger(n, V_UI1(&out));
    case VT_I2: return StoreInteger(n, V_I2(&out));
    case VT_UI2: return StoreInteger(n, V_UI2(&out));
    case VT_I4: return StoreInteger(n, V_I4(&out));
    case VT_UI4: return StoreInteger(n, V_UI4(&out));
    case VT_INT: return StoreInteger(n, V_INT(&out));
    case VT_UINT: return StoreInteger(n, V_UINT(&out));
    case VT_I8: return StoreInteger(n, V_I8(&out));
    case VT_UI8: return StoreInteger(n, V_UI8(&out));
    case VT_R4: {
      const double r = n.AsReal();
      if (std::fabs(r) > static_cast<double>(std::numeric_limits<float>::max())) return DISP_E_OVERFLOW;
      V_R4(&out) = static_cast<float>(r);
      return S_OK;
    }
    case VT_R8: V_R8(&out) = n.AsReal(); return S_OK;
    case VT_DATE: {
      const double r = n.AsReal();
      // The platform checks the date range for these sources only.
      if (from != VT_CY && from != VT_R4 && from != VT_DECIMAL && (r <= -657435.0 || r >= 2958466.0)) {
        return DISP_E_OVERFLOW;
      }
      V_DATE(&out) = r;
      return S_OK;
    }
    case VT_BOOL: {
      V_BOOL(&out) = n.AsReal() != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
    case VT_CY: {
      if (n.hex) return DISP_E_OVERFLOW;  // the platform takes no &H text as currency
      const double scaled = RoundHalfEven(n.AsReal() * 10000.0);
      if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) return DISP_E_OVERFLOW;
      V_CY(&out).int64 = n.kind == Number::kInt    ? n.i * 10000
                         : n.kind == Number::kUInt ? static_cast<long long>(n.u) * 10000
                                                   : static_cast<long long>(scaled);
      return S_OK;
    }
    case VT_DECIMAL: {
      DECIMAL d{};
      if (from == VT_BOOL) {
        d.Lo64 = V_BOOL(&src) ? 1 : 0;  // the platform's decimal of true is +1
      } else if (n.kind == Number::kReal) {
        hr = DecimalFromReal(n.r, from == VT_R4, d);
        if (FAILED(hr)) return hr;
      } else if (n.kind == Number::kCy) {
        d.scale = 4;  // currency keeps its four decimals
        d.sign = static_cast<BYTE>(n.i < 0 ? DECIMAL_NEG : 0);
        d.Lo64 = n.i < 0 ? 0 - static_cast<ULONGLONG>(n.i) : static_cast<ULONGLONG>(n.i);
      } else if (n.kind == Number::kDec) {
        d = n.d;
      } else if (n.kind == Number::kUInt) {
        d.Lo64 = n.u;
      } else {
        d.sign = static_cast<BYTE>(n.i < 0 ? DECIMAL_NEG : 0);
        d.Lo64 = n.i < 0 ? 0 - static_cast<ULONGLONG>(n.i) : static_cast<ULONGLONG>(n.i);
      }
      V_DECIMAL(&out) = d;
      V_VT(&out) = VT_DECIMAL;
      return S_OK;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* destination, const VARIANTARG* source, LCID lcid,
                            USHORT flags, VARTYPE vt) {
  if (vt == VT_CLSID) return DISP_E_BADVARTYPE;
  HRESULT hr = ValidateVariantType(V_VT(source));
  if (FAILED(hr)) return hr;
  hr = ValidateVariantType(vt);
  if (FAILED(hr)) return hr;
  if (V_ISBYREF(source) && !V_BYREF(source)) return DISP_E_TYPEMISMATCH;
  VARIANT from;
  VariantInit(&from);
  hr = VariantCopyInd(&from, source);
  if (FAILED(hr)) return hr;
  VARIANT result;
  VariantInit(&result);
  if (V_ISARRAY(&from) || (vt & VT_ARRAY)) {
    hr = V_VT(&from) == vt ? VariantCopy(&result, &from) : DISP_E_TYPEMISMATCH;
  } else if (vt & VT_BYREF) {
    hr = DISP_E_TYPEMISMATCH;
  } else {
    hr = Coerce(result, from, lcid, flags, vt);
  }
  if (SUCCEEDED(hr)) {
    hr = VariantClear(destination);
    if (SUCCEEDED(hr)) {
      *destination = result;
      VariantInit(&result);
    }
  }
  VariantClear(&result);
  VariantClear(&from);
  return hr;
}

HRESULT VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT flags,
                          VARTYPE vt) {
  return VariantChangeTypeEx(destination, source, LOCALE_USER_DEFAULT, flags, vt);
}
