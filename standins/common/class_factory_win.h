// One class factory for every stand-in class: T is default-constructed with a
// count of 0 and asked for the interface, which takes the first reference.
#pragma once

#include "standins/common/ledger_win.h"

#include <new>
#include <objbase.h>

namespace quorvel::standins {

template <typename T>
class ClassFactory final : public IClassFactory, Counted {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
  STDMETHODIMP_(ULONG) Release() override {
    bool last = false;
    const ULONG left = ReleaseCounted(last);
    if (last) delete this;
    return left;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++TheLedger().locks;
    } else {
      --TheLedger().locks;
    }
    return S_OK;
  }
};

template <typename T>
HRESULT GetFactory(REFIID iid, void** out) {
  auto* factory = new (std::nothrow) ClassFactory<T>();
  if (!factory) return E_OUTOFMEMORY;
  factory->AddRef();
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

inline HRESULT CanUnloadNow() {
  const Ledger& l = TheLedger();
  return (l.objects.load() == 0 && l.locks.load() == 0) ? S_OK : S_FALSE;
}

}  // namespace quorvel::standins
