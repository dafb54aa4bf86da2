// The LDAP namespace provider: ADsGetObject hands it "LDAP://..." paths through
// IADsOpenDSObject, and it answers with directory objects that read and write a
// real LDAP server through wldap32.
#include "standins/adsldp/ads_path.h"
#include "standins/adsldp/provider_win.h"
#include "standins/common/class_factory_win.h"
#include "standins/common/module_win.h"

#include <adserr.h>
#include <iads.h>
#include <winldap.h>
// winber.h needs the types that winldap.h declares.
#include <winber.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::standins {
namespace {

std::wstring W(std::u16string_view s) { return {reinterpret_cast<const wchar_t*>(s.data()), s.size()}; }
std::u16string U(const wchar_t* s) { return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string(); }
// A BSTR knows its length; a plain wide string (wchar_t* like BSTR) must not be taken for one.
std::u16string FromBstr(BSTR s) { return s ? std::u16string(reinterpret_cast<const char16_t*>(s), ::SysStringLen(s)) : std::u16string(); }

BSTR Bstr(std::u16string_view s) {
  return ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  return ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// Port numbers both ways, without the C runtime's locale-dependent formatting.
std::u16string Decimal(unsigned n) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n);
  return digits;
}

unsigned ParseDecimal(std::u16string_view text) {
  unsigned n = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9' || n > 6553) return 0;
    n = n * 10 + static_cast<unsigned>(c - u'0');
  }
  return n > 65535 ? 0 : n;
}

HRESULT ReturnString(std::u16string_view s, BSTR* out) {
  if (!out) return E_POINTER;
  *out = Bstr(s);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT HresultFromLdap(ULONG code) {
  // ADSI reports LDAP results as the directory service errors of Win32, not as
  // wldap32's LdapMapErrorToWin32 (which, under Wine, gives file errors).
  struct Row {
    ULONG ldap;
    DWORD win32;
  };
  static constexpr Row rows[] = {
      {LDAP_OPERATIONS_ERROR, ERROR_DS_OPERATIONS_ERROR},
      {LDAP_PROTOCOL_ERROR, ERROR_DS_PROTOCOL_ERROR},
      {LDAP_TIMELIMIT_EXCEEDED, ERROR_DS_TIMELIMIT_EXCEEDED},
      {LDAP_NO_SUCH_ATTRIBUTE, ERROR_DS_NO_ATTRIBUTE_OR_VALUE},
      {LDAP_UNDEFINED_TYPE, ERROR_DS_ATTRIBUTE_TYPE_UNDEFINED},
      {LDAP_CONSTRAINT_VIOLATION, ERROR_DS_CONSTRAINT_VIOLATION},
      {LDAP_ATTRIBUTE_OR_VALUE_EXISTS, ERROR_DS_ATTRIBUTE_OR_VALUE_EXISTS},
      {LDAP_INVALID_SYNTAX, ERROR_DS_INVALID_ATTRIBUTE_SYNTAX},
      {LDAP_NO_SUCH_OBJECT, ERROR_DS_NO_SUCH_OBJECT},
      {LDAP_INVALID_DN_SYNTAX, ERROR_DS_INVALID_DN_SYNTAX},
      {LDAP_INSUFFICIENT_RIGHTS, ERROR_ACCESS_DENIED},
      {LDAP_BUSY, ERROR_DS_BUSY},
      {LDAP_UNAVAILABLE, ERROR_DS_UNAVAILABLE},
      {LDAP_UNWILLING_TO_PERFORM, ERROR_DS_UNWILLING_TO_PERFORM},
      {LDAP_NAMING_VIOLATION, ERROR_DS_NAMING_VIOLATION},
      {LDAP_OBJECT_CLASS_VIOLATION, ERROR_DS_OBJ_CLASS_VIOLATION},
      {LDAP_NOT_ALLOWED_ON_NONLEAF, ERROR_DS_CANT_ON_NON_LEAF},
      {LDAP_NOT_ALLOWED_ON_RDN, ERROR_DS_CANT_ON_RDN},
      {LDAP_ALREADY_EXISTS, ERROR_OBJECT_ALREADY_EXISTS},
      {LDAP_NO_OBJECT_CLASS_MODS, ERROR_DS_CANT_MOD_OBJ_CLASS},
      {LDAP_SERVER_DOWN, ERROR_DS_SERVER_DOWN},
      {LDAP_CONNECT_ERROR, ERROR_DS_SERVER_DOWN},
      {LDAP_TIMEOUT, ERROR_DS_SERVER_DOWN},
  };
  if (code == LDAP_SUCCESS) return S_OK;
  for (const Row& r : rows)
    if (r.ldap == code) return HRESULT_FROM_WIN32(r.win32);
  return HRESULT_FROM_WIN32(ERROR_DS_GENERIC_ERROR);
}

namespace {

// One LDAP session, shared by an object and everything created or fetched from it.
class Connection {
 public:
  explicit Connection(LDAP* ld) : ld_(ld) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { ::ldap_unbind(ld_); }
  LDAP* get() const { return ld_; }

 private:
  LDAP* ld_;
};

// The server the harness configured, host:port, for paths that name none.
std::u16string ConfiguredServer() {
  wchar_t value[256] = {};
  DWORD size = sizeof value;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\QuorvelStandins", L"LdapServer", RRF_RT_REG_SZ, nullptr,
                     value, &size) != ERROR_SUCCESS)
    return u"127.0.0.1:389";
  return U(static_cast<const wchar_t*>(value));
}

HRESULT Connect(const AdsPath& path, std::shared_ptr<Connection>& out) {
  std::u16string server = path.server;
  unsigned port = path.port;
  if (server.empty()) {
    std::u16string configured = ConfiguredServer();
    const std::size_t colon = configured.find(u':');
    server = configured.substr(0, colon);
    if (colon != std::u16string::npos && port == 0) port = ParseDecimal(std::u16string_view(configured).substr(colon + 1));
  }
  if (port == 0) port = LDAP_PORT;
  std::wstring host = W(server);
  LDAP* ld = ::ldap_initW(host.data(), port);
  if (!ld) return HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN);
  auto connection = std::make_shared<Connection>(ld);
  ULONG version = LDAP_VERSION3;
  ::ldap_set_optionW(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  // Wine's wldap32 faults on a time-out argument here; it uses its own default.
  ULONG rc = ::ldap_connect(ld, nullptr);
  if (rc == LDAP_SUCCESS) rc = ::ldap_simple_bind_sW(ld, nullptr, nullptr);
  if (rc != LDAP_SUCCESS) return HresultFromLdap(rc);
  out = std::move(connection);
  return S_OK;
}

using Values = std::vector<std::u16string>;
// Attribute names compare without case, as the directory compares them.
struct NoCase {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    return ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                  reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                  TRUE) == CSTR_LESS_THAN;
  }
};
using Attributes = std::map<std::u16string, Values, NoCase>;

HRESULT ReadEntry(LDAP* ld, const std::u16string& dn, Attributes& out) {
  std::wstring base = W(dn);
  wchar_t all[] = L"*";
  wchar_t structural[] = L"structuralObjectClass";
  wchar_t* attrs[] = {all, structural, nullptr};
  wchar_t filter[] = L"(objectClass=*)";
  LDAPMessage* result = nullptr;
  const ULONG rc = ::ldap_search_ext_sW(ld, base.data(), LDAP_SCOPE_BASE, filter, attrs, 0, nullptr, nullptr,
                                        nullptr, 0, &result);
  HRESULT hr = HresultFromLdap(rc);
  if (SUCCEEDED(hr)) {
    LDAPMessage* entry = ::ldap_first_entry(ld, result);
    if (!entry) {
      hr = HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
    } else {
      Attributes attributes;
      BerElement* ber = nullptr;
      for (wchar_t* a = ::ldap_first_attributeW(ld, entry, &ber); a; a = ::ldap_next_attributeW(ld, entry, ber)) {
        Values& values = attributes[U(static_cast<const wchar_t*>(a))];
        if (wchar_t** v = ::ldap_get_valuesW(ld, entry, a)) {
          for (wchar_t** p = v; *p; ++p) values.push_back(U(static_cast<const wchar_t*>(*p)));
          ::ldap_value_freeW(v);
        }
        ::ldap_memfreeW(a);
      }
      if (ber) ::ber_free(ber, 0);
      out = std::move(attributes);
    }
  }
  if (result) ::ldap_msgfree(result);
  return hr;
}

// The directory object: IADs for reading and writing, IADsContainer for children.
// IDispatch of both interfaces: the console binds early, through the vtable.
class LdapObject final : public ComObject<LdapObject, NoTypeInfo<IADs>, NoTypeInfo<IADsContainer>> {
 public:
  LdapObject(std::shared_ptr<Connection> connection, std::u16string server, std::u16string dn, bool isNew)
      : connection_(std::move(connection)), server_(std::move(server)), dn_(AdStyleDn(dn)), new_(isNew) {}

  HRESULT Load() { return ReadEntry(connection_->get(), dn_, attributes_); }
  void SetPending(const std::u16string& name, Values values) { pending_[name] = std::move(values); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    void* found = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADs) {
      found = static_cast<IADs*>(this);
    } else if (iid == IID_IADsContainer) {
      found = static_cast<IADsContainer*>(this);
    }
    return Answer(found, out);
  }

  // IADs
  STDMETHODIMP get_Name(BSTR* out) override { return ReturnString(SplitFirstRdn(dn_).first, out); }
  STDMETHODIMP get_Class(BSTR* out) override {
    auto found = attributes_.find(u"structuralObjectClass");
    if (found == attributes_.end() || found->second.empty()) {
      // A new object not yet written knows its class from Create.
      found = pending_.find(u"objectClass");
      if (found == pending_.end() || found->second.empty()) return E_ADS_PROPERTY_NOT_FOUND;
      return ReturnString(found->second.back(), out);
    }
    return ReturnString(found->second.front(), out);
  }
  STDMETHODIMP get_GUID(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ADsPath(BSTR* out) override { return ReturnString(PathOf(dn_), out); }
  STDMETHODIMP get_Parent(BSTR* out) override { return ReturnString(PathOf(std::u16string(SplitFirstRdn(dn_).second)), out); }
  STDMETHODIMP get_Schema(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetInfo() override {
    if (new_) return HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
    Attributes fresh;
    const HRESULT hr = ReadEntry(connection_->get(), dn_, fresh);
    if (SUCCEEDED(hr)) attributes_ = std::move(fresh);
    return hr;
  }
  STDMETHODIMP SetInfo() override {
    std::vector<std::wstring> names;
    std::vector<std::vector<std::wstring>> texts;
    std::vector<std::vector<wchar_t*>> pointers;
    std::vector<LDAPModW> mods;
    names.reserve(pending_.size());
    texts.reserve(pending_.size());
    pointers.reserve(pending_.size());
    mods.reserve(pending_.size());
    for (const auto& [name, values] : pending_) {
      if (SameNoCase(name, u"distinguishedName") || SameNoCase(name, u"name")) continue;
      names.push_back(W(name));
      auto& t = texts.emplace_back();
      for (const auto& v : values) t.push_back(W(v));
      auto& p = pointers.emplace_back();
      for (auto& s : t) p.push_back(s.data());
      p.push_back(nullptr);
      LDAPModW mod{};
      mod.mod_op = new_ ? LDAP_MOD_ADD : LDAP_MOD_REPLACE;
      mod.mod_type = names.back().data();
      mod.mod_vals.modv_strvals = p.data();
      mods.push_back(mod);
    }
    std::vector<LDAPModW*> list;
    for (auto& m : mods) list.push_back(&m);
    list.push_back(nullptr);
    std::wstring dn = W(dn_);
    const ULONG rc = new_ ? ::ldap_add_sW(connection_->get(), dn.data(), list.data())
                          : ::ldap_modify_sW(connection_->get(), dn.data(), list.data());
    const HRESULT hr = HresultFromLdap(rc);
    if (FAILED(hr)) return hr;
    pending_.clear();
    new_ = false;
    return GetInfo();
  }
  STDMETHODIMP Get(BSTR name, VARIANT* out) override { return Read(name, out, false); }
  STDMETHODIMP Put(BSTR name, VARIANT value) override {
    if (!name || !*name) return E_ADS_BAD_PARAMETER;
    Values values;
    const HRESULT hr = ValuesOf(value, values);
    if (FAILED(hr)) return hr;
    pending_[FromBstr(name)] = std::move(values);
    return S_OK;
  }
  STDMETHODIMP GetEx(BSTR name, VARIANT* out) override { return Read(name, out, true); }
  STDMETHODIMP PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetInfoEx(VARIANT, LONG) override { return E_NOTIMPL; }

  // IADsContainer
  STDMETHODIMP get_Count(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP get_Filter(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Filter(VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP get_Hints(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Hints(VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetObject(BSTR className, BSTR relativeName, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!relativeName || !*relativeName) return E_ADS_BAD_PATHNAME;
    const std::u16string dn = ChildDn(FromBstr(relativeName));
    auto* child = new LdapObject(connection_, server_, dn, false);
    child->AddRef();
    HRESULT hr = child->Load();
    if (SUCCEEDED(hr) && className && *className) {
      // The platform refuses a child of another class than the one asked for.
      BSTR actual = nullptr;
      if (SUCCEEDED(child->get_Class(&actual)) && !SameNoCase(FromBstr(actual), FromBstr(className)))
        hr = E_ADS_UNKNOWN_OBJECT;
      ::SysFreeString(actual);
    }
    if (SUCCEEDED(hr)) hr = child->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
    child->Release();
    return hr;
  }
  STDMETHODIMP Create(BSTR className, BSTR relativeName, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!className || !*className) return E_ADS_BAD_PARAMETER;
    const std::u16string rdn = FromBstr(relativeName);
    const std::size_t eq = rdn.find(u'=');
    if (eq == std::u16string::npos || eq == 0 || eq + 1 == rdn.size()) return E_ADS_BAD_PATHNAME;
    auto* child = new LdapObject(connection_, server_, ChildDn(rdn), true);
    child->AddRef();
    child->SetPending(u"objectClass", {FromBstr(className)});
    child->SetPending(rdn.substr(0, eq), {std::u16string(RdnValue(rdn))});
    const HRESULT hr = child->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
    child->Release();
    return hr;
  }
  STDMETHODIMP Delete(BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP CopyHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP MoveHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }

 private:
  std::u16string PathOf(const std::u16string& dn) const {
    std::u16string path = u"LDAP://";
    if (!server_.empty()) path += server_ + u"/";
    return path + PathDn(dn);
  }
  std::u16string ChildDn(const std::u16string& rdn) const { return dn_.empty() ? rdn : rdn + u"," + dn_; }

  // The values as the object would show them after SetInfo: pending ones first.
  bool Lookup(const std::u16string& name, Values& values) const {
    if (auto p = pending_.find(name); p != pending_.end()) {
      values = p->second;
      return true;
    }
    // OpenLDAP knows "distinguishedName" and "name" only as supertypes of
    // other attributes; the directory console means them as AD has them.
    if (SameNoCase(name, u"distinguishedName")) {
      values = {dn_};
      return true;
    }
    if (SameNoCase(name, u"name")) {
      values = {std::u16string(RdnValue(SplitFirstRdn(dn_).first))};
      return true;
    }
    if (auto a = attributes_.find(name); a != attributes_.end() && !a->second.empty()) {
      values = a->second;
      return true;
    }
    return false;
  }

  HRESULT Read(BSTR name, VARIANT* out, bool asArray) const {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    if (!name) return E_ADS_BAD_PARAMETER;
    Values values;
    if (!Lookup(FromBstr(name), values)) return E_ADS_PROPERTY_NOT_FOUND;
    if (!asArray && values.size() == 1) {
      out->bstrVal = Bstr(values.front());
      if (!out->bstrVal) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      return S_OK;
    }
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    if (!array) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
      VARIANT element;
      element.vt = VT_BSTR;
      element.bstrVal = Bstr(values[static_cast<std::size_t>(i)]);
      const HRESULT hr = element.bstrVal ? ::SafeArrayPutElement(array, &i, &element) : E_OUTOFMEMORY;
      ::SysFreeString(element.bstrVal);
      if (FAILED(hr)) {
        ::SafeArrayDestroy(array);
        return hr;
      }
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    return S_OK;
  }

  static HRESULT ValuesOf(const VARIANT& value, Values& out) {
    if (value.vt == VT_BSTR) {
      out = {FromBstr(value.bstrVal)};
      return S_OK;
    }
    if (value.vt == (VT_ARRAY | VT_VARIANT) && value.parray) {
      LONG lower = 0, upper = -1;
      ::SafeArrayGetLBound(value.parray, 1, &lower);
      ::SafeArrayGetUBound(value.parray, 1, &upper);
      for (LONG i = lower; i <= upper; ++i) {
        VARIANT element;
        ::VariantInit(&element);
        HRESULT hr = ::SafeArrayGetElement(value.parray, &i, &element);
        if (SUCCEEDED(hr)) hr = ::VariantChangeType(&element, &element, 0, VT_BSTR);
        if (FAILED(hr)) {
          ::VariantClear(&element);
          return E_ADS_CANT_CONVERT_DATATYPE;
        }
        out.push_back(FromBstr(element.bstrVal));
        ::VariantClear(&element);
      }
      return S_OK;
    }
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR)))
      return E_ADS_CANT_CONVERT_DATATYPE;
    out = {FromBstr(text.bstrVal)};
    ::VariantClear(&text);
    return S_OK;
  }

  std::shared_ptr<Connection> connection_;
  std::u16string server_;  // as the path named it, so paths handed out name it too
  std::u16string dn_;
  bool new_;
  Attributes attributes_;
  Attributes pending_;
};

class Namespace final : public ComObject<Namespace, NoTypeInfo<IADsOpenDSObject>> {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADsOpenDSObject;
    return Answer(known ? static_cast<IADsOpenDSObject*>(this) : nullptr, out);
  }
  STDMETHODIMP OpenDSObject(BSTR path, BSTR, BSTR, LONG, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::optional<AdsPath> parsed = ParseAdsPath(FromBstr(path));
    if (!parsed || parsed->dn.empty()) return E_ADS_BAD_PATHNAME;
    std::shared_ptr<Connection> connection;
    HRESULT hr = Connect(*parsed, connection);
    if (FAILED(hr)) return hr;
    std::u16string server = parsed->server;
    if (parsed->port) server += u":" + Decimal(parsed->port);
    auto* object = new LdapObject(std::move(connection), server, parsed->dn, false);
    object->AddRef();
    hr = object->Load();
    if (SUCCEEDED(hr)) hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
    object->Release();
    return hr;
  }
};

}  // namespace

const wchar_t kModuleName[] = L"quorvel_adsldp";

HRESULT GetModuleClassFactory(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != CLSID_QuorvelLdapNamespace) return CLASS_E_CLASSNOTAVAILABLE;
  return GetFactory<Namespace>(iid, out);
}

}  // namespace quorvel::standins
