// The lifetime of automation values, for builds without Windows: variants made,
// cleared and copied, and safe arrays, whose elements may be variants in turn
// (the reason both live in this one file). They follow the platform's oleaut32:
// layouts, reference rules and failure codes. docs/variants.md lists what differs.
#include "platform/oleaut/value_lifetime.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace quorvel::oleaut {

HRESULT ValidateVariantType(VARTYPE vt) {
  const VARTYPE extra = vt & 0xF000;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (!(extra & (VT_VECTOR | VT_RESERVED))) {
    if (base < VT_VOID || base == VT_RECORD || base == VT_CLSID) {
      if ((extra & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL) return DISP_E_BADVARTYPE;
      if (base != 15) return S_OK;
    }
  }
  return DISP_E_BADVARTYPE;
}

}  // namespace quorvel::oleaut

using quorvel::oleaut::ValidateVariantType;

// ---- Safe arrays ------------------------------------------------------------

namespace {

// The element type lives just before the descriptor, as on the platform.
struct ArrayBlock {
  std::uint32_t pad;
  std::uint32_t vartype;
  SAFEARRAY array;
};

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_BOOL: case VT_I2: case VT_UI2: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_ERROR: case VT_INT: case VT_UINT: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: case VT_INT_PTR: case VT_UINT_PTR: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

ArrayBlock* BlockOf(SAFEARRAY* a) {
  return reinterpret_cast<ArrayBlock*>(reinterpret_cast<char*>(a) - offsetof(ArrayBlock, array));
}

std::size_t CellCount(const SAFEARRAY* a) {
  std::size_t n = 1;
  for (USHORT d = 0; d < a->cDims; ++d) n *= a->rgsabound[d].cElements;
  return n;
}

HRESULT CellOf(SAFEARRAY* a, const LONG* indices, void** cell) {
  if (!a || !indices) return E_INVALIDARG;
  // The last dimension of the descriptor is the first index, as on the platform.
  std::size_t offset = 0;
  std::size_t stride = 1;
  for (USHORT d = 0; d < a->cDims; ++d) {
    const SAFEARRAYBOUND& b = a->rgsabound[a->cDims - 1 - d];
    const LONGLONG rel = static_cast<LONGLONG>(indices[d]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<LONGLONG>(b.cElements)) return DISP_E_BADINDEX;
    offset += static_cast<std::size_t>(rel) * stride;
    stride *= b.cElements;
  }
  *cell = static_cast<char*>(a->pvData) + offset * a->cbElements;
  return S_OK;
}

void ReleaseCells(SAFEARRAY* a) {
  const std::size_t n = CellCount(a);
  auto* data = static_cast<char*>(a->pvData);
  for (std::size_t i = 0; i < n; ++i) {
    void* cell = data + i * a->cbElements;
    if (a->fFeatures & FADF_BSTR) {
      SysFreeString(*static_cast<BSTR*>(cell));
    } else if (a->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      if (IUnknown* u = *static_cast<IUnknown**>(cell)) u->Release();
    } else if (a->fFeatures & FADF_VARIANT) {
      VariantClear(static_cast<VARIANT*>(cell));
    }
  }
  std::memset(data, 0, n * a->cbElements);
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dimensions, SAFEARRAYBOUND* bounds) {
  const ULONG size = ElementSize(type);
  if (!bounds || dimensions == 0 || dimensions > 65535 || size == 0) return nullptr;
  const std::size_t header = offsetof(ArrayBlock, array) + sizeof(SAFEARRAY) +
                             (dimensions - 1) * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<ArrayBlock*>(std::calloc(1, header));
  if (!block) return nullptr;
  block->vartype = type;
  SAFEARRAY* a = &block->array;
  a->cDims = static_cast<USHORT>(dimensions);
  a->cbElements = size;
  a->fFeatures = FADF_HAVEVARTYPE;
  if (type == VT_BSTR) a->fFeatures |= FADF_BSTR;
  if (type == VT_UNKNOWN) a->fFeatures |= FADF_UNKNOWN;
  if (type == VT_DISPATCH) a->fFeatures |= FADF_DISPATCH;
  if (type == VT_VARIANT) a->fFeatures |= FADF_VARIANT;
  // The platform keeps the bounds in reverse order of the dimensions.
  for (UINT d = 0; d < dimensions; ++d) a->rgsabound[d] = bounds[dimensions - 1 - d];
  const std::size_t cells = CellCount(a);
  a->pvData = std::calloc(cells ? cells : 1, size);
  if (!a->pvData) {
    std::free(block);
    return nullptr;
  }
  return a;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lower_bound, ULONG count) {
  SAFEARRAYBOUND b{count, lower_bound};
  return SafeArrayCreate(type, 1, &b);
}

HRESULT SafeArrayDestroy(SAFEARRAY* a) {
  if (!a) return S_OK;
  if (a->cLocks) return DISP_E_ARRAYISLOCKED;
  ReleaseCells(a);
  std::free(a->pvData);
  std::free(BlockOf(a));
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* a, VARTYPE* type) {
  if (!a || !type) return E_INVALIDARG;
  if (!(a->fFeatures & FADF_HAVEVARTYPE)) return E_INVALIDARG;
  *type = static_cast<VARTYPE>(BlockOf(a)->vartype);
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* a, UINT dim, LONG* lower) {
  if (!a || !lower) return E_INVALIDARG;
  if (dim == 0 || dim > a->cDims) return DISP_E_BADINDEX;
  *lower = a->rgsabound[a->cDims - dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* a, UINT dim, LONG* upper) {
  if (!a || !upper) return E_INVALIDARG;
  if (dim == 0 || dim > a->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = a->rgsabound[a->cDims - dim];
  *upper = static_cast<LONG>(static_cast<LONGLONG>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* a) { return a ? a->cDims : 0; }
UINT SafeArrayGetElemsize(SAFEARRAY* a) { return a ? a->cbElements : 0; }

HRESULT SafeArrayLock(SAFEARRAY* a) {
  if (!a) return E_INVALIDARG;
  ++a->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* a) {
  if (!a) return E_INVALIDARG;
  if (a->cLocks == 0) return E_UNEXPECTED;
  --a->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* a, void** data) {
  if (!a || !data) return E_INVALIDARG;
  ++a->cLocks;
  *data = a->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* a) { return SafeArrayUnlock(a); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* a, LONG* indices, void** element) {
  if (!element) return E_INVALIDARG;
  return CellOf(a, indices, element);
}

HRESULT SafeArrayGetElement(SAFEARRAY* a, LONG* indices, void* value) {
  if (!a || !indices || !value) return E_INVALIDARG;
  void* cell = nullptr;
  HRESULT hr = CellOf(a, indices, &cell);
  if (FAILED(hr)) return hr;
  if (a->fFeatures & FADF_VARIANT) {
    auto* out = static_cast<VARIANT*>(value);
    VariantInit(out);
    return VariantCopy(out, static_cast<VARIANT*>(cell));
  }
  if (a->fFeatures & FADF_BSTR) {
    BSTR src = *static_cast<BSTR*>(cell);
    BSTR copy = nullptr;
    if (src) {
      copy = SysAllocStringByteLen(reinterpret_cast<const char*>(src), SysStringByteLen(src));
      if (!copy) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(value) = copy;
    return S_OK;
  }
  if (a->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* u = *static_cast<IUnknown**>(cell);
    if (u) u->AddRef();
    *static_cast<IUnknown**>(value) = u;
    return S_OK;
  }
  std::memcpy(value, cell, a->cbElements);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* a, LONG* indices, void* value) {
  if (!a || !indices) return E_INVALIDARG;
  void* cell = nullptr;
  HRESULT hr = CellOf(a, indices, &cell);
  if (FAILED(hr)) return hr;
  if (a->fFeatures & FADF_VARIANT) {
    if (!value) return E_INVALIDARG;
    return VariantCopy(static_cast<VARIANT*>(cell), static_cast<VARIANT*>(value));
  }
  if (a->fFeatures & FADF_BSTR) {
    // A null string is stored as a new empty one, as the platform does.
    BSTR src = static_cast<BSTR>(value);
    BSTR copy = SysAllocStringByteLen(reinterpret_cast<const char*>(src), SysStringByteLen(src));
    if (!copy) return E_OUTOFMEMORY;
    SysFreeString(*static_cast<BSTR*>(cell));
    *static_cast<BSTR*>(cell) = copy;
    return S_OK;
  }
  if (a->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* u = static_cast<IUnknown*>(value);
    if (u) u->AddRef();
    if (IUnknown* old = *static_cast<IUnknown**>(cell)) old->Release();
    *static_cast<IUnknown**>(cell) = u;
    return S_OK;
  }
  if (!value) return E_INVALIDARG;
  std::memcpy(cell, value, a->cbElements);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy) {
  if (!copy) return E_INVALIDARG;
  *copy = nullptr;
  if (!source) return S_OK;
  VARTYPE vt = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(source, &vt))) return E_INVALIDARG;
  SAFEARRAYBOUND bounds[64];
  if (source->cDims > 64) return E_INVALIDARG;
  for (USHORT d = 0; d < source->cDims; ++d) bounds[d] = source->rgsabound[source->cDims - 1 - d];
  SAFEARRAY* a = SafeArrayCreate(vt, source->cDims, bounds);
  if (!a) return E_OUTOFMEMORY;
  const std::size_t n = CellCount(source);
  for (std::size_t i = 0; i < n; ++i) {
    void* from = static_cast<char*>(source->pvData) + i * source->cbElements;
    void* to = static_cast<char*>(a->pvData) + i * a->cbElements;
    if (source->fFeatures & FADF_VARIANT) {
      const HRESULT hr = VariantCopy(static_cast<VARIANT*>(to), static_cast<VARIANT*>(from));
      if (FAILED(hr)) {
        SafeArrayDestroy(a);
        return hr;
      }
    } else if (source->fFeatures & FADF_BSTR) {
      BSTR s = *static_cast<BSTR*>(from);
      if (s) {
        BSTR c = SysAllocStringByteLen(reinterpret_cast<const char*>(s), SysStringByteLen(s));
        if (!c) {
          SafeArrayDestroy(a);
          return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(to) = c;
      }
    } else if (source->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      IUnknown* u = *static_cast<IUnknown**>(from);
      if (u) u->AddRef();
      *static_cast<IUnknown**>(to) = u;
    } else {
      std::memcpy(to, from, source->cbElements);
    }
  }
  *copy = a;
  return S_OK;
}

// ---- Variants ---------------------------------------------------------------

void VariantInit(VARIANTARG* value) {
  std::memset(value, 0, sizeof(VARIANT));
}

HRESULT VariantClear(VARIANTARG* value) {
  const HRESULT hr = ValidateVariantType(V_VT(value));
  if (FAILED(hr)) return hr;
  if (!V_ISBYREF(value)) {
    if (V_ISARRAY(value)) {
      // A locked array stays for whoever holds the lock; the variant lets go of it
      // all the same and reports the lock, as the platform's does.
      const HRESULT destroyed = SafeArrayDestroy(V_ARRAY(value));
      if (FAILED(destroyed)) {
        V_VT(value) = VT_EMPTY;
        return destroyed;
      }
    } else if (V_VT(value) == VT_BSTR) {
      SysFreeString(V_BSTR(value));
    } else if (V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN) {
      if (V_UNKNOWN(value)) V_UNKNOWN(value)->Release();
    }
  }
  V_VT(value) = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source) {
  if ((V_VT(source) & VT_TYPEMASK) == VT_CLSID || FAILED(ValidateVariantType(V_VT(source)))) {
    return DISP_E_BADVARTYPE;
  }
  if (destination == source) return S_OK;
  HRESULT hr = VariantClear(destination);
  if (FAILED(hr)) return hr;
  *destination = *source;
  if (V_ISBYREF(source)) return S_OK;
  if (V_ISARRAY(source)) {
    hr = SafeArrayCopy(V_ARRAY(source), &V_ARRAY(destination));
    if (FAILED(hr)) V_VT(destination) = VT_EMPTY;
    return hr;
  }
  switch (V_VT(source)) {
    case VT_BSTR:
      if (V_BSTR(source)) {
        V_BSTR(destination) = SysAllocStringByteLen(reinterpret_cast<const char*>(V_BSTR(source)),
                                                    SysStringByteLen(V_BSTR(source)));
        if (!V_BSTR(destination)) {
          V_VT(destination) = VT_EMPTY;
          return E_OUTOFMEMORY;
        }
      }
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (V_UNKNOWN(source)) V_UNKNOWN(source)->AddRef();
      break;
    default:
      break;
  }
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* destination, const VARIANTARG* source) {
  if (!V_ISBYREF(source)) return VariantCopy(destination, source);
  HRESULT hr = ValidateVariantType(V_VT(source));
  if (FAILED(hr)) return hr;
  if (!V_BYREF(source)) return E_INVALIDARG;
  const auto base = static_cast<VARTYPE>(V_VT(source) & ~VT_BYREF);
  VARIANT value;
  VariantInit(&value);
  if (base == VT_VARIANT) {
    hr = VariantCopyInd(&value, V_VARIANTREF(source));
  } else if (base & VT_ARRAY) {
    V_VT(&value) = base;
    V_ARRAY(&value) = *V_ARRAYREF(source);
    VARIANT copy;
    VariantInit(&copy);
    hr = VariantCopy(&copy, &value);
    value = copy;
  } else if (base == VT_DECIMAL) {
    V_DECIMAL(&value) = *V_DECIMALREF(source);
    V_VT(&value) = VT_DECIMAL;
  } else {
    VARIANT shallow;
    VariantInit(&shallow);
    V_VT(&shallow) = base;
    const std::size_t size = base == VT_I1 || base == VT_UI1 ? 1
                             : base == VT_I2 || base == VT_UI2 || base == VT_BOOL ? 2
                             : base == VT_I4 || base == VT_UI4 || base == VT_R4 || base == VT_ERROR ||
                                       base == VT_INT || base == VT_UINT
                                 ? 4
                                 : 8;
    std::memcpy(&V_I8(&shallow), V_BYREF(source), size);
    hr = VariantCopy(&value, &shallow);
  }
  if (FAILED(hr)) return hr;
  hr = VariantClear(destination);
  if (FAILED(hr)) {
    VariantClear(&value);
    return hr;
  }
  *destination = value;
  return S_OK;
}
