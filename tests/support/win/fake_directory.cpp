#include "support/win/fake_directory.h"

#include <string>

namespace quorvel::test {
namespace {

// The test provider's class; nothing is registered for it but the ProgID below, and
// the class object lives only inside the test process.
constexpr CLSID kTestNamespaceClsid = {0x8e3a0c51, 0x2f47, 0x4b9d, {0xa6, 0xc1, 0x3d, 0x5e, 0x7f, 0x90, 0x1b, 0x24}};
constexpr wchar_t kTestProgId[] = L"Quorvel.TestNamespace";
constexpr wchar_t kProvidersKey[] = L"Software\\Microsoft\\ADs\\Providers\\";
constexpr wchar_t kClassesKey[] = L"Software\\Classes\\";
constexpr HRESULT kNoSuchObject = static_cast<HRESULT>(0x80072030);

HRESULT HandOut(BSTR* out, const std::wstring& text) {
  if (!out) return E_POINTER;
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetDefault(const std::wstring& key, const std::wstring& value) {
  HKEY h = nullptr;
  LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
  rc = ::RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(h);
  return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

bool ReadDefault(const std::wstring& key, std::wstring& value) {
  wchar_t buffer[256] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return false;
  value = buffer;
  return true;
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

}  // namespace

HRESULT FakeADs::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || (isADs && IsEqualIID(iid, IID_IADs))) {
    *out = static_cast<IADs*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT FakeADs::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT FakeADs::get_Name(BSTR* out) {
  ++nameCalls_;
  const HRESULT hr = HandOut(out, name_);
  return FAILED(hr) ? hr : nameResult;
}
HRESULT FakeADs::get_Class(BSTR* out) {
  const HRESULT hr = HandOut(out, class_);
  return FAILED(hr) ? hr : classResult;
}
HRESULT FakeADs::get_ADsPath(BSTR* out) {
  const HRESULT hr = HandOut(out, path_);
  return FAILED(hr) ? hr : pathResult;
}

class FakeDirectory::Namespace final : public IADsOpenDSObject {
 public:
  explicit Namespace(FakeDirectory& directory) : directory_(directory) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, IID_IADsOpenDSObject))
      return E_NOINTERFACE;
    *out = static_cast<IADsOpenDSObject*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(); }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP OpenDSObject(BSTR path, BSTR, BSTR, LONG, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::wstring p = path ? std::wstring(path, ::SysStringLen(path)) : std::wstring();
    opened.push_back(p);
    if (const auto f = directory_.failures_.find(p); f != directory_.failures_.end()) return f->second;
    const auto o = directory_.objects_.find(p);
    if (o == directory_.objects_.end()) return kNoSuchObject;
    return o->second->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
  }

  RefLedger refs_;
  std::vector<std::wstring> opened;

 private:
  FakeDirectory& directory_;
};

FakeDirectory::FakeDirectory()
    : namespace_(std::make_unique<Namespace>(*this)),
      factory_(std::make_unique<FakeClassFactory>(
          [](void* context, REFIID iid, void** out) {
            return static_cast<Namespace*>(context)->QueryInterface(iid, out);
          },
          namespace_.get())) {
  HRESULT hr = SetDefault(std::wstring(kProvidersKey) + kPrefix, kTestProgId);
  if (SUCCEEDED(hr))
    hr = SetDefault(std::wstring(kClassesKey) + kTestProgId + L"\\CLSID", GuidText(kTestNamespaceClsid));
  if (FAILED(hr)) {
    ready_ = hr;
    return;
  }
  registrations_.push_back(std::make_unique<ScopedClassObject>(kTestNamespaceClsid, factory_.get()));
  if (FAILED(registrations_.back()->result())) {
    ready_ = registrations_.back()->result();
    return;
  }
  // "LDAP" keeps whatever class the prefix names (Wine's own provider, or the
  // stand-in); a class object registered in this process is found before it.
  std::wstring ldapProgId;
  const std::wstring ldapKey = std::wstring(kProvidersKey) + L"LDAP";
  if (!ReadDefault(ldapKey, ldapProgId)) {
    hr = SetDefault(ldapKey, kTestProgId);
    if (FAILED(hr)) {
      ready_ = hr;
      return;
    }
    createdLdapKey_ = true;
    ldapProgId = kTestProgId;
  }
  CLSID ldapClsid{};
  hr = ::CLSIDFromProgID(ldapProgId.c_str(), &ldapClsid);
  if (FAILED(hr)) {
    ready_ = hr;
    return;
  }
  if (!IsEqualCLSID(ldapClsid, kTestNamespaceClsid)) {
    registrations_.push_back(std::make_unique<ScopedClassObject>(ldapClsid, factory_.get()));
    if (FAILED(registrations_.back()->result())) {
      ready_ = registrations_.back()->result();
      return;
    }
  }
  ready_ = S_OK;
}

FakeDirectory::~FakeDirectory() {
  registrations_.clear();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kProvidersKey) + kPrefix).c_str());
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kClassesKey) + kTestProgId).c_str());
  if (createdLdapKey_) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kProvidersKey) + L"LDAP").c_str());
}

const std::vector<std::wstring>& FakeDirectory::opened() const { return namespace_->opened; }
const RefLedger& FakeDirectory::providerRefs() const { return namespace_->refs_; }

}  // namespace quorvel::test
