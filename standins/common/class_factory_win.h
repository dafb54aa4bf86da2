// The COM plumbing every stand-in shares: IUnknown's counting, the IDispatch that
// early-bound clients never call, and one class factory for every class.
#pragma once

#include "standins/common/ledger_win.h"

#include <new>
#include <objbase.h>
#include <oaidl.h>

namespace quorvel::standins {

// IUnknown's counting for an object of ours: the ledger sees every reference and
// the last Release deletes the object.
template <typename Self, typename... Interfaces>
class ComObject : public Interfaces..., public Counted {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
  STDMETHODIMP_(ULONG) Release() override {
    bool last = false;
    const ULONG left = ReleaseCounted(last);
    if (last) delete static_cast<Self*>(this);
    return left;
  }

 protected:
  // The end of every QueryInterface: `found` (null for an interface the class does
  // not have) handed out with a reference of its own.
  HRESULT Answer(void* found, void** out) {
    *out = found;
    if (!found) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
};

// IDispatch of an interface that clients bind to through the vtable only.
template <typename Interface>
class NoTypeInfo : public Interface {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

// A new T asked for `iid`: the answer holds the only reference.
template <typename T>
HRESULT Create(REFIID iid, void** out) {
  T* object = new (std::nothrow) T();
  if (!object) return E_OUTOFMEMORY;
  object->AddRef();
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

// T is default-constructed with a count of 0 and asked for the interface, which
// takes the first reference.
template <typename T>
class ClassFactory final : public ComObject<ClassFactory<T>, IClassFactory> {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    const bool known = iid == IID_IUnknown || iid == IID_IClassFactory;
    return this->Answer(known ? static_cast<IClassFactory*>(this) : nullptr, out);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return Create<T>(iid, out);
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
  return Create<ClassFactory<T>>(iid, out);
}

}  // namespace quorvel::standins
