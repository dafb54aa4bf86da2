// Reference counting for fakes that the test owns. Release never deletes: the test
// looks at the fake after the code under test is done with it, and asserts that
// every reference that code took has been given back.
#pragma once

#include "platform/wintypes.h"

#include <objbase.h>

namespace quorvel::test {

class RefLedger {
 public:
  ULONG Add() {
    ++taken_;
    return static_cast<ULONG>(++count_);
  }
  ULONG Drop() {
    if (count_ == 0) {
      ++overReleased_;  // a Release without a reference: a fault in the caller
      return 0;
    }
    return static_cast<ULONG>(--count_);
  }
  // References held right now.
  LONG outstanding() const { return count_; }
  // References ever taken.
  LONG taken() const { return taken_; }
  // Releases that found no reference to give back.
  LONG overReleased() const { return overReleased_; }

 private:
  LONG count_ = 0;
  LONG taken_ = 0;
  LONG overReleased_ = 0;
};

// A class object handing out whatever `Create` makes; registered for a CLSID with
// CoRegisterClassObject for the lifetime of a ScopedClassObject.
class FakeClassFactory final : public IClassFactory {
 public:
  using Create = HRESULT (*)(void* context, REFIID iid, void** out);
  FakeClassFactory(Create create, void* context) : create_(create), context_(context) {}
  FakeClassFactory(const FakeClassFactory&) = delete;
  FakeClassFactory& operator=(const FakeClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(); }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  const RefLedger& refs() const { return refs_; }
  int created() const { return created_; }

 private:
  Create create_;
  void* context_;
  RefLedger refs_;
  int created_ = 0;
};

class ScopedClassObject {
 public:
  ScopedClassObject(REFCLSID clsid, IUnknown* factory);
  ScopedClassObject(const ScopedClassObject&) = delete;
  ScopedClassObject& operator=(const ScopedClassObject&) = delete;
  ~ScopedClassObject();
  HRESULT result() const { return hr_; }

 private:
  DWORD cookie_ = 0;
  HRESULT hr_;
};

}  // namespace quorvel::test
