// The platform's automation value types and services: BSTR, VARIANT, SAFEARRAY.
// On Windows this is the SDK's oleaut32. Elsewhere the same names, layouts and
// results come from our own implementation (platform/oleaut/), so that code built
// on them behaves alike in both builds. Code that must build both ways reaches the
// variant's fields only through the V_* macros and DECIMAL's scale, sign, Hi32 and
// Lo64.
#pragma once

#include "platform/wintypes.h"

#ifdef _WIN32
#include <oleauto.h>
#else
#include <cstddef>
#include <cstdint>

using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// Length-prefixed UTF-16: a 32-bit byte count stands just before the first code
// unit, and a zero code unit follows the last one.
using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;
using FLOAT = float;
using DOUBLE = double;
using PVOID = void*;
using DISPID = LONG;
#define STDMETHODCALLTYPE

#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_CLSID = 72,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0x0fff,
  VT_TYPEMASK = 0x0fff
};

// Status codes of the automation services.
#define DISP_E_UNKNOWNINTERFACE (static_cast<HRESULT>(0x80020001))
#define DISP_E_MEMBERNOTFOUND (static_cast<HRESULT>(0x80020003))
#define DISP_E_PARAMNOTFOUND (static_cast<HRESULT>(0x80020004))
#define DISP_E_TYPEMISMATCH (static_cast<HRESULT>(0x80020005))
#define DISP_E_BADVARTYPE (static_cast<HRESULT>(0x80020008))
#define DISP_E_OVERFLOW (static_cast<HRESULT>(0x8002000A))
#define DISP_E_BADINDEX (static_cast<HRESULT>(0x8002000B))
#define DISP_E_ARRAYISLOCKED (static_cast<HRESULT>(0x8002000D))
#define DISP_E_DIVBYZERO (static_cast<HRESULT>(0x80020012))

// Flags of VariantChangeType(Ex) and of the Var*From* conversions.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10
#define VAR_TIMEVALUEONLY 0x00000001u
#define VAR_DATEVALUEONLY 0x00000002u
#define LOCALE_NOUSEROVERRIDE 0x80000000u

#define LANG_USER_DEFAULT 0x0400
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SYSTEM_DEFAULT 0x0800u
#define DISPID_VALUE 0
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2

// The safe array's feature flags.
#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_RECORD 0x0020
#define FADF_HAVEIID 0x0040
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const IID&;
using REFGUID = const GUID&;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }
extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;

// The minimal COM interfaces that a variant can hold. Objects end in Release, so the
// destructor is not public and not virtual.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  IUnknown() = default;
  IUnknown(const IUnknown&) = default;
  IUnknown& operator=(const IUnknown&) = default;
  ~IUnknown() = default;
};

struct ITypeInfo;
struct tagVARIANT;
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;
using LPVARIANT = tagVARIANT*;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};
struct EXCEPINFO;

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_error) = 0;

 protected:
  IDispatch() = default;
  IDispatch(const IDispatch&) = default;
  IDispatch& operator=(const IDispatch&) = default;
  ~IDispatch() = default;
};

// Currency: a 64-bit integer in units of 1/10000.
union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
};

// A 96-bit integer with a sign and a power-of-ten scale (0 to 28). In a VARIANT it
// covers the first 16 bytes, its reserved field lying on the type tag.
struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};
#define DECIMAL_NEG (static_cast<BYTE>(0x80))

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

struct IRecordInfo;

struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          PVOID pvRecord;
          IRecordInfo* pRecInfo;
        } brecVal;
      } n3;
    } n2;
    DECIMAL decVal;
  } n1;
};

static_assert(sizeof(VARIANT) == 24, "the platform's 64-bit VARIANT");
static_assert(offsetof(VARIANT, n1.n2.n3) == 8, "the value part follows the tag and reserved words");
static_assert(offsetof(VARIANT, n1.decVal) == 0, "a DECIMAL covers the variant from its start");
static_assert(sizeof(DECIMAL) == 16 && offsetof(DECIMAL, Lo64) == 8);
static_assert(sizeof(CY) == 8);
static_assert(sizeof(SAFEARRAY) == 32 && offsetof(SAFEARRAY, pvData) == 16 &&
              offsetof(SAFEARRAY, rgsabound) == 24);

#define V_VT(X) ((X)->n1.n2.vt)
#define V_UNION(X, m) ((X)->n1.n2.n3.m)
#define V_ISBYREF(X) (V_VT(X) & VT_BYREF)
#define V_ISARRAY(X) (V_VT(X) & VT_ARRAY)
#define V_ISVECTOR(X) (V_VT(X) & VT_VECTOR)
#define V_NONE(X) V_I2(X)
#define V_UI1(X) V_UNION(X, bVal)
#define V_UI1REF(X) V_UNION(X, pbVal)
#define V_I2(X) V_UNION(X, iVal)
#define V_I2REF(X) V_UNION(X, piVal)
#define V_I4(X) V_UNION(X, lVal)
#define V_I4REF(X) V_UNION(X, plVal)
#define V_I8(X) V_UNION(X, llVal)
#define V_I8REF(X) V_UNION(X, pllVal)
#define V_R4(X) V_UNION(X, fltVal)
#define V_R4REF(X) V_UNION(X, pfltVal)
#define V_R8(X) V_UNION(X, dblVal)
#define V_R8REF(X) V_UNION(X, pdblVal)
#define V_I1(X) V_UNION(X, cVal)
#define V_I1REF(X) V_UNION(X, pcVal)
#define V_UI2(X) V_UNION(X, uiVal)
#define V_UI2REF(X) V_UNION(X, puiVal)
#define V_UI4(X) V_UNION(X, ulVal)
#define V_UI4REF(X) V_UNION(X, pulVal)
#define V_UI8(X) V_UNION(X, ullVal)
#define V_UI8REF(X) V_UNION(X, pullVal)
#define V_INT(X) V_UNION(X, intVal)
#define V_INTREF(X) V_UNION(X, pintVal)
#define V_UINT(X) V_UNION(X, uintVal)
#define V_UINTREF(X) V_UNION(X, puintVal)
#define V_CY(X) V_UNION(X, cyVal)
#define V_CYREF(X) V_UNION(X, pcyVal)
#define V_DATE(X) V_UNION(X, date)
#define V_DATEREF(X) V_UNION(X, pdate)
#define V_BSTR(X) V_UNION(X, bstrVal)
#define V_BSTRREF(X) V_UNION(X, pbstrVal)
#define V_DISPATCH(X) V_UNION(X, pdispVal)
#define V_DISPATCHREF(X) V_UNION(X, ppdispVal)
#define V_ERROR(X) V_UNION(X, scode)
#define V_ERRORREF(X) V_UNION(X, pscode)
#define V_BOOL(X) V_UNION(X, boolVal)
#define V_BOOLREF(X) V_UNION(X, pboolVal)
#define V_UNKNOWN(X) V_UNION(X, punkVal)
#define V_UNKNOWNREF(X) V_UNION(X, ppunkVal)
#define V_VARIANTREF(X) V_UNION(X, pvarVal)
#define V_ARRAY(X) V_UNION(X, parray)
#define V_ARRAYREF(X) V_UNION(X, pparray)
#define V_BYREF(X) V_UNION(X, byref)
#define V_DECIMAL(X) ((X)->n1.decVal)
#define V_DECIMALREF(X) V_UNION(X, pdecVal)
#define V_RECORD(X) V_UNION(X, brecVal.pvRecord)
#define V_RECORDINFO(X) V_UNION(X, brecVal.pRecInfo)

// Strings. A null BSTR is the empty string.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
INT SysReAllocString(BSTR* target, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
void SysFreeString(BSTR text);

// Variants.
void VariantInit(VARIANTARG* value);
HRESULT VariantClear(VARIANTARG* value);
HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source);
HRESULT VariantCopyInd(VARIANT* destination, const VARIANTARG* source);
HRESULT VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT flags,
                          VARTYPE target);
HRESULT VariantChangeTypeEx(VARIANTARG* destination, const VARIANTARG* source, LCID lcid,
                            USHORT flags, VARTYPE target);

// Safe arrays.
SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dimensions, SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lower_bound, ULONG count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy);
HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lower_bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upper_bound);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, LONG* indices, void** element);

#endif  // _WIN32
