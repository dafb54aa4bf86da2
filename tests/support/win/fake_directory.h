// A directory the test makes up: IADs objects it owns, served through the real
// ADsGetObject by a namespace provider registered in the test's own Wine prefix.
#pragma once

#include "support/win/ref_ledger.h"

#include <ole2.h>
#include <activeds.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::test {

class FakeADs final : public IADs {
 public:
  FakeADs(std::wstring name, std::wstring className, std::wstring path)
      : name_(std::move(name)), class_(std::move(className)), path_(std::move(path)) {}
  FakeADs(const FakeADs&) = delete;
  FakeADs& operator=(const FakeADs&) = delete;

  // What get_Name answers; the name is handed out with any result.
  HRESULT nameResult = S_OK;
  // What get_ADsPath and get_Class answer; the text is handed out with any result.
  HRESULT pathResult = S_OK;
  HRESULT classResult = S_OK;
  // A provider object that is no IADs: binding for IID_IADs must fail.
  bool isADs = true;

  const RefLedger& refs() const { return refs_; }
  int nameCalls() const { return nameCalls_; }

  // IUnknown, IDispatch
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(); }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  // IADs
  STDMETHODIMP get_Name(BSTR* out) override;
  STDMETHODIMP get_Class(BSTR* out) override;
  STDMETHODIMP get_GUID(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ADsPath(BSTR* out) override;
  STDMETHODIMP get_Parent(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Schema(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetInfo() override { return S_OK; }
  STDMETHODIMP SetInfo() override { return S_OK; }
  STDMETHODIMP Get(BSTR, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP Put(BSTR, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetEx(BSTR, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetInfoEx(VARIANT, LONG) override { return E_NOTIMPL; }

 private:
  std::wstring name_, class_, path_;
  RefLedger refs_;
  int nameCalls_ = 0;
};

// Registers a provider for the prefix kPrefix (registry keys in the prefix,
// removed again by the destructor) and takes over, inside this process only, the
// class that the prefix "LDAP" names, so that the paths a secondary sheet forms
// reach the same objects. Construct inside a COM apartment.
class FakeDirectory {
 public:
  static constexpr wchar_t kPrefix[] = L"QVTEST";

  FakeDirectory();
  FakeDirectory(const FakeDirectory&) = delete;
  FakeDirectory& operator=(const FakeDirectory&) = delete;
  ~FakeDirectory();

  // S_OK when both prefixes are served; else what went wrong, for the test to report.
  HRESULT ready() const { return ready_; }

  // The object the path binds; the test keeps it alive while the directory lives.
  void Add(const std::wstring& path, FakeADs* object) { objects_[path] = object; }
  // A path whose bind fails with `hr` (an unknown path gives ERROR_DS_NO_SUCH_OBJECT).
  void Fail(const std::wstring& path, HRESULT hr) { failures_[path] = hr; }

  // Every path that OpenDSObject was asked for, in order.
  const std::vector<std::wstring>& opened() const;
  // References held on the provider object itself.
  const RefLedger& providerRefs() const;

 private:
  class Namespace;
  std::map<std::wstring, FakeADs*> objects_;
  std::map<std::wstring, HRESULT> failures_;
  std::unique_ptr<Namespace> namespace_;
  std::unique_ptr<FakeClassFactory> factory_;
  std::vector<std::unique_ptr<ScopedClassObject>> registrations_;
  bool createdLdapKey_ = false;
  HRESULT ready_ = E_FAIL;
};

}  // namespace quorvel::test
