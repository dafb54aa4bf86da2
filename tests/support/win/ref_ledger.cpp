#include "support/win/ref_ledger.h"

namespace quorvel::test {

HRESULT FakeClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
  *out = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

HRESULT FakeClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  ++created_;
  return create_(context_, iid, out);
}

ScopedClassObject::ScopedClassObject(REFCLSID clsid, IUnknown* factory)
    : hr_(::CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_)) {}

ScopedClassObject::~ScopedClassObject() {
  if (SUCCEEDED(hr_)) ::CoRevokeClassObject(cookie_);
}

}  // namespace quorvel::test
