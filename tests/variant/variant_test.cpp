#include "util/variant_convert.h"
#include "util/variant_text.h"
#include "variant_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace quorvel {
namespace {

using test::Bstr;
using test::NewArray;
using test::TextOf;

TEST(FormatR8Text, Table) {
  struct Row { int line; double value; const char* text; };
  const Row rows[] = {
      {__LINE__, 3.14159265, "3.1416"}, {__LINE__, 2.5, "2.5"},       {__LINE__, -2.5, "-2.5"},
      {__LINE__, 1.0, "1."},            {__LINE__, 0.5, "0.5"},       {__LINE__, 1.23456e4, "12346"},
      {__LINE__, 1.23456e5, "1.2346e+005"}, {__LINE__, 1e5, "1.e+005"},
      {__LINE__, 0.001234, "1.234e-003"}, {__LINE__, 0.05, "5.e-002"}, {__LINE__, 0.0, "0."},
      {__LINE__, -0.0, "0."},           {__LINE__, 99999.5, "1.e+005"}, {__LINE__, 1e-300, "1.e-300"},
      {__LINE__, -1.5e300, "-1.5e+300"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    EXPECT_EQ(FormatR8Text(r.value), r.text);
  }
}

TEST(ParseUI8Text, DigitsOnly) {
  EXPECT_EQ(ParseUI8Text(u"123"), 123u);
  EXPECT_EQ(ParseUI8Text(u""), 0u);
  EXPECT_EQ(ParseUI8Text(u"12a3"), 0u);
  EXPECT_EQ(ParseUI8Text(u"-5"), 0u);
  EXPECT_EQ(ParseUI8Text(u" 5"), 0u);
  EXPECT_EQ(ParseUI8Text(u"1.5"), 0u);
  EXPECT_EQ(ParseUI8Text(u"18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(ParseUI8Text(u"18446744073709551616"), 0u);  // modulo 2^64
  EXPECT_EQ(ParseUI8Text(std::u16string(u"42\0" u"9", 4)), 42u);
}

std::u16string Text(const VARIANT& v) { return VariantToText(v); }

// An array variant of BSTRs from `lower`.
void MakeBstrArray(VARIANT& v, std::initializer_list<std::u16string> items, LONG lower = 0) {
  SAFEARRAY* a = NewArray(VT_BSTR, static_cast<ULONG>(items.size()), lower);
  LONGLONG index = lower;  // the last index may be the highest LONG
  for (const auto& t : items) {
    LONG i = static_cast<LONG>(index++);
    BSTR b = Bstr(t);
    SafeArrayPutElement(a, &i, b);
    SysFreeString(b);
  }
  V_VT(&v) = VT_ARRAY | VT_BSTR;
  V_ARRAY(&v) = a;
}

TEST(VariantToText, BracedLists) {
  {
    UniqueVariant v;
    V_VT(v.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(v.get()) = NewArray(VT_BSTR, 0);
    EXPECT_EQ(Text(*v.get()), u"{}");
  }
  {
    UniqueVariant v;
    V_VT(v.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(v.get()) = nullptr;
    EXPECT_EQ(Text(*v.get()), u"");
  }
  struct Row { int line; std::initializer_list<std::u16string> items; LONG lower; std::u16string text; };
  const Row rows[] = {
      {__LINE__, {u"abc"}, 0, u"{'abc'}"},
      {__LINE__, {u""}, 0, u"{''}"},
      {__LINE__, {u"a", u"b"}, 0, u"{'a', 'b'}"},
      {__LINE__, {u"O'Neil"}, 0, u"{'O'Neil'}"},
      {__LINE__, {u"first", u"second"}, 1, u"{'first', 'second'}"},
      {__LINE__, {u"x", u"y"}, -3, u"{'x', 'y'}"},
      {__LINE__, {std::u16string(u"ab\0cd", 5)}, 0, u"{'ab'}"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    UniqueVariant v;
    MakeBstrArray(*v.get(), r.items, r.lower);
    EXPECT_EQ(Text(*v.get()), r.text);
    EXPECT_EQ(V_VT(v.get()), VT_ARRAY | VT_BSTR);  // input untouched
  }
}

TEST(VariantToText, Scalars) {
  UniqueVariant b;
  test::SetBstr(*b.get(), u"abc");
  EXPECT_EQ(Text(*b.get()), u"abc");
  UniqueVariant z;
  test::SetBstr(*z.get(), std::u16string(u"ab\0cd", 5));
  EXPECT_EQ(Text(*z.get()), u"ab");
  UniqueVariant i;
  test::SetI4(*i.get(), 42);
  EXPECT_EQ(Text(*i.get()), u"42");
  UniqueVariant e;
  EXPECT_EQ(Text(*e.get()), u"");
  UniqueVariant n;
  V_VT(n.get()) = VT_NULL;
  EXPECT_EQ(Text(*n.get()), u"");
  UniqueVariant t;
  V_VT(t.get()) = VT_BOOL;
  V_BOOL(t.get()) = VARIANT_TRUE;
  EXPECT_EQ(Text(*t.get()), u"True");
  UniqueVariant i8;
  V_VT(i8.get()) = VT_I8;
  V_I8(i8.get()) = -42;
  EXPECT_EQ(Text(*i8.get()), u"-42");
}

TEST(VariantToText, VariantAndBooleanAndDecimalArrays) {
  UniqueVariant v;
  V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(v.get()) = NewArray(VT_VARIANT, 2);
  UniqueVariant five, x;
  test::SetI4(*five.get(), 5);
  test::SetBstr(*x.get(), u"x");
  LONG i = 0;
  SafeArrayPutElement(V_ARRAY(v.get()), &i, five.get());
  i = 1;
  SafeArrayPutElement(V_ARRAY(v.get()), &i, x.get());
  EXPECT_EQ(Text(*v.get()), u"{'5', 'x'}");

  UniqueVariant b;
  V_VT(b.get()) = VT_ARRAY | VT_BOOL;
  V_ARRAY(b.get()) = NewArray(VT_BOOL, 1);
  VARIANT_BOOL t = VARIANT_TRUE;
  i = 0;
  SafeArrayPutElement(V_ARRAY(b.get()), &i, &t);
  EXPECT_EQ(Text(*b.get()), u"{'-1'}");

  UniqueVariant d;
  V_VT(d.get()) = VT_ARRAY | VT_DECIMAL;
  V_ARRAY(d.get()) = NewArray(VT_DECIMAL, 1);
  DECIMAL dec{};
  dec.scale = 2;
  dec.sign = DECIMAL_NEG;
  dec.Lo64 = 12345;
  SafeArrayPutElement(V_ARRAY(d.get()), &i, &dec);
  EXPECT_EQ(Text(*d.get()), u"{'-123.45'}");
}

// Elements that earlier went unread: each must show its own value now.
TEST(VariantToText, EightByteAndCurrencyAndErrorElements) {
  struct Row { int line; VARTYPE type; LONGLONG bits; std::u16string text; };
  const Row rows[] = {
      {__LINE__, VT_I8, -42, u"{'-42'}"},
      {__LINE__, VT_UI8, -1, u"{'18446744073709551615'}"},
      {__LINE__, VT_CY, 15000, u"{'1.5'}"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    UniqueVariant v;
    V_VT(v.get()) = static_cast<VARTYPE>(VT_ARRAY | r.type);
    V_ARRAY(v.get()) = NewArray(r.type, 1);
    LONG i = 0;
    LONGLONG bits = r.bits;
    ASSERT_EQ(SafeArrayPutElement(V_ARRAY(v.get()), &i, &bits), S_OK);
    EXPECT_EQ(Text(*v.get()), r.text);
  }
  // An error code does not convert to text: the last element failing empties all.
  UniqueVariant e;
  V_VT(e.get()) = VT_ARRAY | VT_ERROR;
  V_ARRAY(e.get()) = NewArray(VT_ERROR, 1);
  EXPECT_EQ(Text(*e.get()), u"");
}

// A VT_VARIANT element holding an invalid type cannot be copied out of the array.
void PutBadElement(SAFEARRAY* a, LONG index) {
  VARIANT* data = nullptr;
  ASSERT_EQ(SafeArrayPtrOfIndex(a, &index, reinterpret_cast<void**>(&data)), S_OK);
  V_VT(data) = 15;
}

TEST(VariantToText, FailingElements) {
  for (const bool bad_first : {true, false}) {
    SCOPED_TRACE(bad_first);
    UniqueVariant v;
    V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(v.get()) = NewArray(VT_VARIANT, 2);
    UniqueVariant b;
    test::SetBstr(*b.get(), u"b");
    LONG good = bad_first ? 1 : 0;
    SafeArrayPutElement(V_ARRAY(v.get()), &good, b.get());
    PutBadElement(V_ARRAY(v.get()), bad_first ? 0 : 1);
    EXPECT_EQ(Text(*v.get()), bad_first ? std::u16string(u"{'', 'b'}") : std::u16string());
    LONG bad = bad_first ? 0 : 1;
    VARIANT* data = nullptr;
    SafeArrayPtrOfIndex(V_ARRAY(v.get()), &bad, reinterpret_cast<void**>(&data));
    V_VT(data) = VT_EMPTY;  // let the array go
  }
}

// The fallback works on a bitwise copy; when it fails, the input keeps all it owns.
TEST(VariantToText, FailedFallbackReleasesNothingOfTheInput) {
  test::CountingUnknown unknown;
  VARIANT v;
  V_VT(&v) = static_cast<VARTYPE>(VT_UNKNOWN | VT_RESERVED);
  V_UNKNOWN(&v) = &unknown;
  EXPECT_EQ(Text(v), u"");
  EXPECT_EQ(unknown.count(), 1u);

  BSTR s = Bstr(u"kept");
  V_VT(&v) = static_cast<VARTYPE>(VT_BSTR | VT_RESERVED);
  V_BSTR(&v) = s;
  EXPECT_EQ(Text(v), u"");
  EXPECT_EQ(TextOf(s), u"kept");
  SysFreeString(s);

  SAFEARRAY* a = NewArray(VT_I4, 1);
  V_VT(&v) = VT_SAFEARRAY;
  V_ARRAY(&v) = a;
  EXPECT_EQ(Text(v), u"");
  LONG ub = -5;
  EXPECT_EQ(SafeArrayGetUBound(a, 1, &ub), S_OK);
  EXPECT_EQ(ub, 0);
  SafeArrayDestroy(a);
}

TEST(ChangeVariantType, EmptyAndNullStay) {
  for (const VARTYPE request : {VARTYPE{VT_BSTR}, VARTYPE{VT_I4}, VARTYPE(VT_ARRAY | VT_BSTR)}) {
    UniqueVariant e;
    EXPECT_EQ(ChangeVariantType(*e.get(), request), S_OK);
    EXPECT_EQ(V_VT(e.get()), VT_EMPTY);
    UniqueVariant n;
    V_VT(n.get()) = VT_NULL;
    EXPECT_EQ(ChangeVariantType(*n.get(), request), S_OK);
    EXPECT_EQ(V_VT(n.get()), VT_NULL);
  }
}

TEST(ChangeVariantType, ScalarsThroughText) {
  UniqueVariant big;
  V_VT(big.get()) = VT_R8;
  V_R8(big.get()) = 1e20;  // the platform overflows VT_I4
  EXPECT_EQ(ChangeVariantType(*big.get(), VT_I4), S_OK);
  ASSERT_EQ(V_VT(big.get()), VT_BSTR);
  EXPECT_EQ(TextOf(V_BSTR(big.get())), u"1.e+020");

  UniqueVariant r;
  V_VT(r.get()) = VT_R8;
  V_R8(r.get()) = 1.23456e25;  // beyond VT_I8
  EXPECT_EQ(ChangeVariantType(*r.get(), VT_I8), S_OK);
  ASSERT_EQ(V_VT(r.get()), VT_I8);
  EXPECT_EQ(V_I8(r.get()), 1);

  // Texts the platform refuses, read by our own rules: the longest number prefix,
  // integers saturating at the ends of the 64-bit range.
  constexpr LONGLONG kMin = std::numeric_limits<LONGLONG>::min();
  constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
  struct Row { int line; std::u16string text; VARTYPE request; LONGLONG integer; double real; };
  const Row rows[] = {
      {__LINE__, u"12a3", VT_I8, 12, 0}, {__LINE__, u"12a3", VT_UI8, 0, 0},
      {__LINE__, u" x-7", VT_I8, 0, 0},
      {__LINE__, u"99999999999999999999x", VT_I8, kMax, 0},
      {__LINE__, u"-99999999999999999999x", VT_I8, kMin, 0},
      {__LINE__, u"9223372036854775808x", VT_I8, kMax, 0},
      {__LINE__, u"-9223372036854775808x", VT_I8, kMin, 0},
      {__LINE__, u"-9223372036854775807x", VT_I8, kMin + 1, 0},
      {__LINE__, u"12a3", VT_R8, 0, 12.0},
      {__LINE__, u" -2.5e-1abc", VT_R8, 0, -0.25},
      {__LINE__, u"+.5x", VT_R8, 0, 0.5},
      {__LINE__, u"5.x", VT_R8, 0, 5.0},
      {__LINE__, u"1e+x", VT_R8, 0, 1.0},
      {__LINE__, u"1.5E3x", VT_R8, 0, 1500.0},
      {__LINE__, u".e5", VT_R8, 0, 0.0},
      {__LINE__, u"x1", VT_R8, 0, 0.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    UniqueVariant s;
    test::SetBstr(*s.get(), row.text);
    EXPECT_EQ(ChangeVariantType(*s.get(), row.request), S_OK);
    ASSERT_EQ(V_VT(s.get()), row.request);
    if (row.request == VT_R8) EXPECT_EQ(V_R8(s.get()), row.real);
    else EXPECT_EQ(V_I8(s.get()), row.integer);
  }
  UniqueVariant t;
  test::SetBstr(*t.get(), u" -7");
  EXPECT_EQ(ChangeVariantType(*t.get(), VT_I8), S_OK);  // the platform reads it itself
  EXPECT_EQ(V_I8(t.get()), -7);

  UniqueVariant i8;
  V_VT(i8.get()) = VT_I8;
  V_I8(i8.get()) = -42;
  EXPECT_EQ(ChangeVariantType(*i8.get(), VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(V_BSTR(i8.get())), u"-42");
  UniqueVariant u8;
  V_VT(u8.get()) = VT_UI8;
  V_UI8(u8.get()) = std::numeric_limits<ULONGLONG>::max();
  EXPECT_EQ(ChangeVariantType(*u8.get(), VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(V_BSTR(u8.get())), u"18446744073709551615");
}

TEST(ChangeVariantType, Arrays) {
  {
    UniqueVariant v;
    MakeBstrArray(*v.get(), {u"a", u"b"});
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_BSTR), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_BSTR);
    EXPECT_EQ(TextOf(V_BSTR(v.get())), u"{'a', 'b'}");
  }
  {
    UniqueVariant v;
    MakeBstrArray(*v.get(), {});
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_BSTR), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_BSTR);
    EXPECT_EQ(TextOf(V_BSTR(v.get())), u"");
  }
  {
    UniqueVariant v;
    MakeBstrArray(*v.get(), {});
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_ARRAY | VT_BSTR), S_FALSE);
    EXPECT_EQ(V_VT(v.get()), VT_EMPTY);
  }
  {
    UniqueVariant v;
    V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(v.get()) = NewArray(VT_VARIANT, 2, 1);
    for (LONG i = 1; i <= 2; ++i) {
      UniqueVariant e;
      test::SetI4(*e.get(), i);
      SafeArrayPutElement(V_ARRAY(v.get()), &i, e.get());
    }
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_ARRAY | VT_BSTR), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_ARRAY | VT_BSTR);
    LONG lb = -1;
    SafeArrayGetLBound(V_ARRAY(v.get()), 1, &lb);
    EXPECT_EQ(lb, 0);
    EXPECT_EQ(VariantToText(*v.get()), u"{'1', '2'}");
  }
  {
    UniqueVariant v;
    MakeBstrArray(*v.get(), {u"17", u"x"});
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_I4), S_OK);  // "x" goes through text
    ASSERT_EQ(V_VT(v.get()), VT_I4);
    EXPECT_EQ(V_I4(v.get()), 17);
  }
  {
    UniqueVariant v;
    V_VT(v.get()) = VT_ARRAY | VT_DECIMAL;
    V_ARRAY(v.get()) = NewArray(VT_DECIMAL, 1);
    DECIMAL dec{};
    dec.scale = 1;
    dec.Lo64 = 15;
    LONG i = 0;
    SafeArrayPutElement(V_ARRAY(v.get()), &i, &dec);
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_ARRAY | VT_DECIMAL), S_OK);
    EXPECT_EQ(VariantToText(*v.get()), u"{'1.5'}");
  }
}

TEST(ChangeVariantType, ScalarToArrayStoresEveryValueType) {
  struct Row { int line; VARTYPE base; std::u16string text; };
  const Row rows[] = {
      {__LINE__, VT_I4, u"{'7'}"}, {__LINE__, VT_I8, u"{'7'}"}, {__LINE__, VT_UI8, u"{'7'}"},
      {__LINE__, VT_CY, u"{'7'}"}, {__LINE__, VT_BSTR, u"{'7'}"}, {__LINE__, VT_R8, u"{'7'}"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    UniqueVariant v;
    test::SetI4(*v.get(), 7);
    EXPECT_EQ(ChangeVariantType(*v.get(), static_cast<VARTYPE>(VT_ARRAY | r.base)), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_ARRAY | r.base);
    EXPECT_EQ(VariantToText(*v.get()), r.text);
  }
}

// Arrays of the types that once went unread keep every value through a conversion
// to an array of their own type: read and stored through the value part.
TEST(ChangeVariantType, EightByteCurrencyAndErrorArraysKeepTheirValues) {
  struct Row { int line; VARTYPE type; LONGLONG first; LONGLONG second; };
  const Row rows[] = {
      {__LINE__, VT_I8, -42, std::numeric_limits<LONGLONG>::max()},
      {__LINE__, VT_UI8, -1, 1},  // the largest VT_UI8
      {__LINE__, VT_CY, std::numeric_limits<LONGLONG>::min(), 15000},
      {__LINE__, VT_ERROR, static_cast<LONG>(DISP_E_PARAMNOTFOUND), 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    UniqueVariant v;
    V_VT(v.get()) = static_cast<VARTYPE>(VT_ARRAY | r.type);
    V_ARRAY(v.get()) = NewArray(r.type, 2, 3);
    const std::size_t bytes = SafeArrayGetElemsize(V_ARRAY(v.get()));
    for (LONG i = 3; i <= 4; ++i) {
      LONGLONG bits = i == 3 ? r.first : r.second;
      void* slot = nullptr;
      ASSERT_EQ(SafeArrayPtrOfIndex(V_ARRAY(v.get()), &i, &slot), S_OK);
      std::memcpy(slot, &bits, bytes);
    }
    ASSERT_EQ(ChangeVariantType(*v.get(), static_cast<VARTYPE>(VT_ARRAY | r.type)), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_ARRAY | r.type);
    for (LONG i = 0; i <= 1; ++i) {
      LONGLONG bits = 0;
      ASSERT_EQ(SafeArrayGetElement(V_ARRAY(v.get()), &i, &bits), S_OK);
      const LONGLONG expected = i == 0 ? r.first : r.second;
      EXPECT_EQ(std::memcmp(&bits, &expected, bytes), 0) << "element " << i;
    }
  }
}

// On every failure the caller keeps its value: an element that cannot be read
// (first, middle or last), one that does not convert, an array or a scalar whose
// new array cannot be made, a scalar that has no text.
TEST(ChangeVariantType, FailureLeavesTheValueAsItWas) {
  enum Shape { kUnreadElement, kErrorElement, kEmptyFirst, kI4, kError };
  struct Row { int line; Shape shape; LONG at; VARTYPE request; HRESULT hr; };
  const Row rows[] = {
      {__LINE__, kUnreadElement, 0, VT_BSTR, DISP_E_BADVARTYPE},
      {__LINE__, kUnreadElement, 1, VT_I4, DISP_E_BADVARTYPE},
      {__LINE__, kUnreadElement, 2, VT_ARRAY | VT_BSTR, DISP_E_BADVARTYPE},
      {__LINE__, kErrorElement, 1, VT_BSTR, kNotSupported},
      {__LINE__, kEmptyFirst, 0, VT_ARRAY | VT_VARIANT, kNotEnoughMemory},
      {__LINE__, kI4, 0, VT_ARRAY | VT_EMPTY, kNotEnoughMemory},
      {__LINE__, kError, 0, VT_BSTR, kNotSupported},
      {__LINE__, kError, 0, VT_I4, DISP_E_TYPEMISMATCH},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    UniqueVariant v;
    VARIANT* slot = nullptr;
    if (r.shape == kI4) {
      test::SetI4(*v.get(), 7);
    } else if (r.shape == kError) {
      V_VT(v.get()) = VT_ERROR;
      V_ERROR(v.get()) = DISP_E_PARAMNOTFOUND;
    } else {
      V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(v.get()) = NewArray(VT_VARIANT, 3);
      UniqueVariant b;
      test::SetBstr(*b.get(), u"b");
      for (LONG i = 0; i < 3; ++i) {
        if (i != r.at) SafeArrayPutElement(V_ARRAY(v.get()), &i, b.get());
      }
      LONG at = r.at;
      ASSERT_EQ(SafeArrayPtrOfIndex(V_ARRAY(v.get()), &at, reinterpret_cast<void**>(&slot)), S_OK);
      if (r.shape == kUnreadElement) V_VT(slot) = 15;
      if (r.shape == kErrorElement) V_VT(slot) = VT_ERROR;
    }
    const VARIANT before = *v.get();
    EXPECT_EQ(ChangeVariantType(*v.get(), r.request), r.hr);
    if (std::memcmp(&before, v.get(), sizeof(VARIANT)) != 0) {
      ADD_FAILURE() << "the value changed: " << testing::PrintToString(*v.get());
      continue;  // what the value held may be gone
    }
    if (!slot) continue;
    LONG good = (r.at + 1) % 3;
    UniqueVariant element;
    ASSERT_EQ(SafeArrayGetElement(V_ARRAY(v.get()), &good, element.get()), S_OK);
    EXPECT_EQ(TextOf(V_BSTR(element.get())), u"b");
    V_VT(slot) = VT_EMPTY;  // let the array go
  }
}

TEST(ChangeVariantType, InterfacesBalance) {
  test::CountingUnknown unknown;
  UniqueVariant v;
  V_VT(v.get()) = VT_ARRAY | VT_UNKNOWN;
  V_ARRAY(v.get()) = NewArray(VT_UNKNOWN, 1);
  LONG i = 0;
  SafeArrayPutElement(V_ARRAY(v.get()), &i, static_cast<IUnknown*>(&unknown));
  EXPECT_EQ(unknown.count(), 2u);
  EXPECT_EQ(ChangeVariantType(*v.get(), VT_ARRAY | VT_UNKNOWN), S_OK);
  EXPECT_EQ(unknown.count(), 2u);
  VariantClear(v.get());
  EXPECT_EQ(unknown.count(), 1u);
}

// A by-reference array holds the address of the caller's array pointer, not an
// array: its elements are read through it, by both, and the caller's array stays
// its own.
TEST(ChangeVariantType, ByReferenceArrayConvertsTheArrayItNames) {
  for (const VARTYPE request : {VARTYPE(VT_ARRAY | VT_BSTR), VARTYPE{VT_BSTR}}) {
    SCOPED_TRACE(request);
    UniqueVariant owner;
    MakeBstrArray(*owner.get(), {u"a", u"b"}, 1);
    SAFEARRAY* array = V_ARRAY(owner.get());
    UniqueVariant v;
    V_VT(v.get()) = VT_BYREF | VT_ARRAY | VT_BSTR;
    V_ARRAYREF(v.get()) = &array;
    EXPECT_EQ(VariantToText(*v.get()), u"{'a', 'b'}");
    EXPECT_EQ(ChangeVariantType(*v.get(), request), S_OK);
    ASSERT_EQ(V_VT(v.get()), request);
    EXPECT_EQ(VariantToText(*v.get()), u"{'a', 'b'}");
    EXPECT_EQ(array, V_ARRAY(owner.get()));
    EXPECT_EQ(VariantToText(*owner.get()), u"{'a', 'b'}");  // still there, still whole
  }
  SAFEARRAY* none = nullptr;
  for (SAFEARRAY** reference : {static_cast<SAFEARRAY**>(nullptr), &none}) {
    UniqueVariant v;
    V_VT(v.get()) = VT_BYREF | VT_ARRAY | VT_I4;
    V_ARRAYREF(v.get()) = reference;
    EXPECT_EQ(VariantToText(*v.get()), u"");
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_BSTR), E_INVALIDARG);
    EXPECT_EQ(V_VT(v.get()), VT_BYREF | VT_ARRAY | VT_I4);
    EXPECT_EQ(V_ARRAYREF(v.get()), reference);
    V_VT(v.get()) = VT_EMPTY;
  }
}

// The element services take one index a dimension; one index read from a
// two-dimensional array would run past it.
TEST(GetArrayElement, TwoDimensionalArraysAreNotReadWithOneIndex) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
  UniqueVariant v;
  V_VT(v.get()) = VT_ARRAY | VT_I4;
  V_ARRAY(v.get()) = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(V_ARRAY(v.get()), nullptr);
  UniqueVariant out;
  EXPECT_EQ(GetArrayElement(V_ARRAY(v.get()), 0, *out.get()), E_INVALIDARG);
  EXPECT_EQ(V_VT(out.get()), VT_EMPTY);
  EXPECT_EQ(VariantToText(*v.get()), u"");
  SAFEARRAY* const before = V_ARRAY(v.get());
  EXPECT_EQ(ChangeVariantType(*v.get(), VT_BSTR), E_INVALIDARG);
  EXPECT_EQ(V_VT(v.get()), VT_ARRAY | VT_I4);
  EXPECT_EQ(V_ARRAY(v.get()), before);
  UniqueVariant seven;
  test::SetI4(*seven.get(), 7);
  PutArrayElement(V_ARRAY(v.get()), 0, *seven.get());  // stores nothing, reads no second index
  LONG indices[2] = {1, 1};
  LONG stored = -1;
  ASSERT_EQ(SafeArrayGetElement(V_ARRAY(v.get()), indices, &stored), S_OK);
  EXPECT_EQ(stored, 0);
}

// Bounds at the ends of the index range: the upper bound of an empty array at the
// lowest lower bound wraps round to the highest, which once meant four billion
// reads; elements past the highest index cannot be named at all.
TEST(ArrayRange, BoundsAtTheEndsOfTheIndexRange) {
  constexpr LONG kMin = std::numeric_limits<LONG>::min();
  constexpr LONG kMax = std::numeric_limits<LONG>::max();
  struct Row { int line; LONG lower; std::initializer_list<std::u16string> items; std::u16string text;
               HRESULT change; };
  const Row rows[] = {
      {__LINE__, kMin, {}, u"{}", S_FALSE},
      {__LINE__, kMin, {u"a", u"b"}, u"{'a', 'b'}", S_OK},
      {__LINE__, kMax, {}, u"{}", S_FALSE},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    UniqueVariant v;
    MakeBstrArray(*v.get(), r.items, r.lower);
    EXPECT_EQ(VariantToText(*v.get()), r.text);
    EXPECT_EQ(ChangeVariantType(*v.get(), VT_ARRAY | VT_BSTR), r.change);
    if (r.change == S_OK) {
      EXPECT_EQ(VariantToText(*v.get()), r.text);
    }
  }
  // Three elements from the highest index: the last two have no index.
  UniqueVariant v;
  V_VT(v.get()) = VT_ARRAY | VT_I4;
  V_ARRAY(v.get()) = NewArray(VT_I4, 3, kMax);
  ASSERT_NE(V_ARRAY(v.get()), nullptr);
  EXPECT_EQ(VariantToText(*v.get()), u"");
  EXPECT_EQ(ChangeVariantType(*v.get(), VT_BSTR), E_INVALIDARG);
  EXPECT_EQ(V_VT(v.get()), VT_ARRAY | VT_I4);
}

// A date outside the calendar has no text; rendering it must not overflow the day count.
TEST(VariantToText, DatesOutsideTheCalendarGiveNoText) {
  for (const double date : {1e300, -1e300, 9.3e18, -9.3e18, 2958466.0, -657435.0}) {
    SCOPED_TRACE(date);
    UniqueVariant v;
    V_VT(v.get()) = VT_DATE;
    V_DATE(v.get()) = date;
    EXPECT_EQ(VariantToText(*v.get()), u"");
    UniqueVariant out;
    EXPECT_LT(VariantChangeType(out.get(), v.get(), 0, VT_BSTR), 0);
  }
  UniqueVariant last;
  V_VT(last.get()) = VT_DATE;
  V_DATE(last.get()) = 2958465.0;
  EXPECT_EQ(VariantToText(*last.get()), u"12/31/9999");
}

TEST(VariantListToSafeArray, EmptyListIsRefused) {
  UniqueVariant out;
  VariantList list;
  EXPECT_THROW(VariantListToSafeArray(*out.get(), list), std::invalid_argument);
}

}  // namespace
}  // namespace quorvel
