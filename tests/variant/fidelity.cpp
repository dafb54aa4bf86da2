// One table of conversions run against whichever automation services the build
// has. Under Wine it can capture the platform's answers (QUORVEL_FIDELITY_CAPTURE=
// file); every run compares against the checked-in answers, writes a report, and
// fails on a deviation that the known list does not name.
#include "platform/automation.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Source {
  std::string name;
  VARIANT value;
};

std::string Hex(unsigned long long x) {
  char b[32];
  std::snprintf(b, sizeof b, "%llx", x);
  return b;
}

std::string Describe(HRESULT hr, const VARIANT& v) {
  std::ostringstream os;
  os << "hr=" << Hex(static_cast<std::uint32_t>(hr)) << " vt=" << V_VT(&v) << " ";
  if (FAILED(hr)) return os.str();
  switch (V_VT(&v)) {
    case VT_I1: os << int{V_I1(&v)}; break;
    case VT_UI1: os << unsigned{V_UI1(&v)}; break;
    case VT_I2: os << V_I2(&v); break;
    case VT_UI2: os << V_UI2(&v); break;
    case VT_I4: os << V_I4(&v); break;
    case VT_UI4: os << V_UI4(&v); break;
    case VT_INT: os << V_INT(&v); break;
    case VT_UINT: os << V_UINT(&v); break;
    case VT_I8: os << V_I8(&v); break;
    case VT_UI8: os << V_UI8(&v); break;
    case VT_BOOL: os << V_BOOL(&v); break;
    case VT_ERROR: os << Hex(static_cast<std::uint32_t>(V_ERROR(&v))); break;
    case VT_R4: { float f = V_R4(&v); std::uint32_t b; std::memcpy(&b, &f, 4); os << Hex(b); break; }
    case VT_R8: case VT_DATE: { double d = V_R8(&v); std::uint64_t b; std::memcpy(&b, &d, 8); os << Hex(b); break; }
    case VT_CY: os << V_CY(&v).int64; break;
    case VT_DECIMAL: os << int{V_DECIMAL(&v).sign} << "," << int{V_DECIMAL(&v).scale} << "," << V_DECIMAL(&v).Hi32 << "," << V_DECIMAL(&v).Lo64; break;
    case VT_BSTR: {
      os << '"';
      BSTR b = V_BSTR(&v);
      for (UINT i = 0; b && i < SysStringLen(b); ++i) {
        const unsigned c = static_cast<unsigned>(b[i]);
        if (c >= 0x21 && c < 0x7F) os << static_cast<char>(c);
        else os << "\\u" << Hex(c);
      }
      os << '"';
      break;
    }
    default: break;
  }
  return os.str();
}

BSTR Text(const std::u16string& s) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}
BSTR Text(const char* s) { return Text(std::u16string(s, s + std::strlen(s))); }

std::vector<Source> Sources() {
  std::vector<Source> out;
  auto add = [&](const std::string& name, auto set) {
    Source s{name, {}};
    VariantInit(&s.value);
    set(s.value);
    out.push_back(s);
  };
  add("EMPTY", [](VARIANT&) {});
  add("NULL", [](VARIANT& v) { V_VT(&v) = VT_NULL; });
  for (SHORT x : {SHORT{0}, SHORT{-1}, SHORT{255}, SHORT{32767}, SHORT{-32768}})
    add("I2(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_I2; V_I2(&v) = x; });
  for (LONG x : {0, -1, 42, 65536, 2147483647, -2147483647 - 1})
    add("I4(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_I4; V_I4(&v) = x; });
  for (float x : {0.0f, -0.0f, 1.5f, 2.5f, -2.5f, 0.1f, 3.4e38f, 1e-30f})
    add([x] { char n[64]; std::snprintf(n, sizeof n, "R4(%.9g)", static_cast<double>(x)); return std::string(n); }(), [x](VARIANT& v) { V_VT(&v) = VT_R4; V_R4(&v) = x; });
  const double reals[] = {0.0, -0.0, 0.5, 1.5, 2.5, -1.5, 127.5, -32768.5, 3.14159265358979,
                          123456.789, 1e15, 1e16, 4294967295.5, 9.2233720368547758e18, 1e308, 1e-308,
                          0.1, 1e-5, 2.0 / 3.0};
  for (double x : reals) {
    char n[64];
    std::snprintf(n, sizeof n, "R8(%.17g)", x);
    add(n, [x](VARIANT& v) { V_VT(&v) = VT_R8; V_R8(&v) = x; });
  }
  for (LONGLONG x : {0LL, 15000LL, -1LL, 12345LL, 9223372036854775807LL, -9223372036854775807LL - 1, -10000LL})
    add("CY(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_CY; V_CY(&v).int64 = x; });
  for (double x : {0.0, 1.0, 1.5, -1.5, 0.25, 36526.75, -657434.0, 2958465.0})
    add("DATE(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_DATE; V_DATE(&v) = x; });
  // Times that round to the next or the same day's midnight.
  for (const char* x : {"2.0000001", "0.999999", "0.9999999"})
    add(std::string("DATE(") + x + ")", [x](VARIANT& v) { V_VT(&v) = VT_DATE; V_DATE(&v) = std::strtod(x, nullptr); });
  for (const char* s : {"", " ", "0", "42", " 42 ", "-1", "1.5", "2.5", "1e3", "abc", "12a3", "True",
                        "false", "32768", "4294967296", "9223372036854775808", "1,000", "-0"})
    add(std::string("BSTR(\"") + s + "\")", [s](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = Text(s); });
  // Number forms other than plain digits: spaces outside ASCII, signs in
  // parentheses or after the digits, currency, hex, the boolean word form, and a
  // number beyond any double.
  struct Form { const char* name; std::u16string text; };
  for (const Form& f : {Form{"\\u00a05", u"\u00A05"}, Form{"\\u30005", u"\u30005"}, Form{"(5)", u"(5)"},
                        Form{"$5", u"$5"}, Form{"&H10", u"&H10"}, Form{"5-", u"5-"}, Form{"#TRUE#", u"#TRUE#"},
                        Form{"1e400", u"1e400"}})
    add(std::string("BSTR(\"") + f.name + "\")", [t = f.text](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = Text(t); });
  add("BSTR(null)", [](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = nullptr; });
  add("DISPATCH(null)", [](VARIANT& v) { V_VT(&v) = VT_DISPATCH; V_DISPATCH(&v) = nullptr; });
  add("UNKNOWN(null)", [](VARIANT& v) { V_VT(&v) = VT_UNKNOWN; V_UNKNOWN(&v) = nullptr; });
  add("ERROR(0)", [](VARIANT& v) { V_VT(&v) = VT_ERROR; V_ERROR(&v) = 0; });
  add("ERROR(PARAMNOTFOUND)", [](VARIANT& v) { V_VT(&v) = VT_ERROR; V_ERROR(&v) = DISP_E_PARAMNOTFOUND; });
  for (VARIANT_BOOL x : {VARIANT_TRUE, VARIANT_FALSE, VARIANT_BOOL{1}})
    add("BOOL(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_BOOL; V_BOOL(&v) = x; });
  struct Dec { const char* n; BYTE sign; BYTE scale; ULONG hi; ULONGLONG lo; };
  for (Dec d : {Dec{"0", 0, 0, 0, 0}, Dec{"1.5", 0, 1, 0, 15}, Dec{"-1.5", DECIMAL_NEG, 1, 0, 15},
                Dec{"max", 0, 0, 0xFFFFFFFFu, ~0ULL}, Dec{"1e-28", 0, 28, 0, 1},
                Dec{"12345.6789", 0, 4, 0, 123456789}, Dec{"-0", DECIMAL_NEG, 0, 0, 0},
                Dec{"9223372036854775807", 0, 0, 0, 9223372036854775807ULL}, Dec{"-123456789012.345", DECIMAL_NEG, 3, 0, 123456789012345ULL}})
    add(std::string("DECIMAL(") + d.n + ")", [d](VARIANT& v) {
      V_DECIMAL(&v).sign = d.sign; V_DECIMAL(&v).scale = d.scale; V_DECIMAL(&v).Hi32 = d.hi; V_DECIMAL(&v).Lo64 = d.lo;
      V_VT(&v) = VT_DECIMAL; });
  for (int x : {0, -128, 127}) add("I1(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_I1; V_I1(&v) = static_cast<CHAR>(x); });
  for (int x : {0, 255}) add("UI1(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_UI1; V_UI1(&v) = static_cast<BYTE>(x); });
  add("UI2(65535)", [](VARIANT& v) { V_VT(&v) = VT_UI2; V_UI2(&v) = 65535; });
  add("UI4(4294967295)", [](VARIANT& v) { V_VT(&v) = VT_UI4; V_UI4(&v) = 4294967295u; });
  for (LONGLONG x : {0LL, -42LL, 4294967296LL, 9223372036854775807LL, -9223372036854775807LL - 1})
    add("I8(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_I8; V_I8(&v) = x; });
  for (ULONGLONG x : {0ULL, 9223372036854775808ULL, 18446744073709551615ULL})
    add("UI8(" + std::to_string(x) + ")", [x](VARIANT& v) { V_VT(&v) = VT_UI8; V_UI8(&v) = x; });
  add("INT(-1)", [](VARIANT& v) { V_VT(&v) = VT_INT; V_INT(&v) = -1; });
  add("UINT(4294967295)", [](VARIANT& v) { V_VT(&v) = VT_UINT; V_UINT(&v) = 4294967295u; });
  static LONG ref_i4 = 42;
  static double ref_r8 = 2.5;
  add("BYREF_I4(42)", [](VARIANT& v) { V_VT(&v) = VT_BYREF | VT_I4; V_I4REF(&v) = &ref_i4; });
  add("BYREF_R8(2.5)", [](VARIANT& v) { V_VT(&v) = VT_BYREF | VT_R8; V_R8REF(&v) = &ref_r8; });
  add("BYREF_I4(nullptr)", [](VARIANT& v) { V_VT(&v) = VT_BYREF | VT_I4; V_BYREF(&v) = nullptr; });
  add("VT15", [](VARIANT& v) { V_VT(&v) = 15; });
  add("BYREF_EMPTY", [](VARIANT& v) { V_VT(&v) = VT_BYREF | VT_EMPTY; });
  return out;
}

// Array and variant services other than conversion, where the builds have differed.
void AddServiceRows(std::vector<std::pair<std::string, std::string>>& results) {
  auto row = [&](const std::string& key, const std::string& value) { results.emplace_back("service " + key, value); };
  auto hex = [](HRESULT hr) { return Hex(static_cast<std::uint32_t>(hr)); };
  SAFEARRAYBOUND one{1, 0};
  {
    SAFEARRAY* a = SafeArrayCreate(VT_I4, 1, &one);
    SafeArrayLock(a);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ARRAY | VT_I4;
    V_ARRAY(&v) = a;
    const HRESULT hr = VariantClear(&v);
    row("VariantClear(locked array)", "hr=" + hex(hr) + " vt=" + std::to_string(V_VT(&v)));
    SafeArrayUnlock(a);
    SafeArrayDestroy(a);
  }
  for (VARTYPE t : {VARTYPE{VT_INT_PTR}, VARTYPE{VT_UINT_PTR}}) {
    SAFEARRAY* a = SafeArrayCreate(t, 1, &one);
    VARTYPE vt = 0;
    std::string made = "null";
    if (a) made = "size=" + std::to_string(SafeArrayGetElemsize(a)) + " vt=" +
                  (SUCCEEDED(SafeArrayGetVartype(a, &vt)) ? std::to_string(vt) : std::string("?"));
    row("SafeArrayCreate(" + std::to_string(t) + ")", made);
    SafeArrayDestroy(a);
  }
  {
    SAFEARRAY* a = SafeArrayCreate(VT_BSTR, 1, &one);
    LONG i = 0;
    const HRESULT put = SafeArrayPutElement(a, &i, nullptr);
    BSTR out = nullptr;
    const HRESULT get = SafeArrayGetElement(a, &i, &out);
    row("SafeArrayPutElement(BSTR array, null)", "put=" + hex(put) + " get=" + hex(get) +
        (out ? " text of " + std::to_string(SysStringLen(out)) : std::string(" null")));
    SysFreeString(out);
    SafeArrayDestroy(a);
  }
}

// Whose answers this run gives: a Wine build names its version.
std::string PlatformName() {
#ifdef _WIN32
  using Version = const char* (*)();
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    if (auto get = reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"))))
      return std::string("Wine ") + get();
  }
  return "Windows";
#else
  return "our own automation services";
#endif
}

constexpr char kCapturedFrom[] = "# captured from ";

std::string Key(const std::string& source, int target, USHORT flags) {
  return source + "->" + std::to_string(target) + (flags ? "/alpha" : "");
}

std::map<std::string, std::string> ReadTable(const char* path) {
  std::map<std::string, std::string> t;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto tab = line.find('\t');
    if (tab != std::string::npos) t[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: fidelity EXPECTED KNOWN REPORT\n");
    return 2;
  }
  std::vector<std::pair<std::string, std::string>> results;
  for (Source& s : Sources()) {
    std::vector<int> targets;
    for (int t = 0; t <= VT_UINT; ++t) targets.push_back(t);
    targets.push_back(VT_BYREF | VT_I4);
    for (int t : targets) {
      for (USHORT flags : {USHORT{0}, USHORT{VARIANT_ALPHABOOL}}) {
        if (flags && t != VT_BSTR && V_VT(&s.value) != VT_BSTR) continue;
        VARIANT out;
        VariantInit(&out);
        const HRESULT hr = VariantChangeTypeEx(&out, &s.value, 0x0409, flags, static_cast<VARTYPE>(t));
        results.emplace_back(Key(s.name, t, flags), Describe(hr, out));
        if (SUCCEEDED(hr)) VariantClear(&out);
      }
    }
    if (!(V_VT(&s.value) & VT_BYREF)) VariantClear(&s.value);
  }
  AddServiceRows(results);
  const std::string here = PlatformName();
  if (const char* capture = std::getenv("QUORVEL_FIDELITY_CAPTURE")) {
    std::ofstream out(capture, std::ios::binary);
    out << kCapturedFrom << here << '\n';
    for (const auto& [k, v] : results) out << k << '\t' << v << '\n';
  }
  const auto expected = ReadTable(argv[1]);
  std::string captured_from = "(not named)";
  {
    std::ifstream in(argv[1]);
    std::string line;
    if (std::getline(in, line) && line.rfind(kCapturedFrom, 0) == 0) captured_from = line.substr(sizeof kCapturedFrom - 1);
    if (!captured_from.empty() && captured_from.back() == '\r') captured_from.pop_back();
  }
  std::set<std::string> known;
  {
    std::ifstream in(argv[2]);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] != '#') known.insert(line);
    }
  }
  std::ofstream report(argv[3]);
  std::size_t agree = 0;
  std::size_t unexplained = 0;
  std::ostringstream deviations;
  for (const auto& [k, v] : results) {
    const auto it = expected.find(k);
    const std::string want = it == expected.end() ? "(not in table)" : it->second;
    if (want == v) {
      ++agree;
      continue;
    }
    const bool listed = known.count(k) != 0;
    if (!listed) ++unexplained;
    deviations << (listed ? "known  " : "NEW    ") << k << "\n  platform: " << want << "\n  here:     " << v << '\n';
  }
  report << "answers of " << here << " against answers captured from " << captured_from << "\n";
  if (here == captured_from) {
    report << "The expected answers were captured from this same platform: the two cannot disagree unless the\n"
              "platform has changed since, so agreement here measures nothing about fidelity.\n";
  }
  report << "cases " << results.size() << "\nagreeing " << agree << "\nknown deviations "
         << results.size() - agree - unexplained << "\nunexplained " << unexplained << "\n\n"
         << deviations.str();
  std::printf("cases %zu, agreeing %zu, unexplained deviations %zu%s\n", results.size(), agree, unexplained,
              here == captured_from ? " (against a capture from this same platform)" : "");
  return unexplained == 0 ? 0 : 1;
}
