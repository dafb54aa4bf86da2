// The LDAP provider stand-in, reached as the program reaches it: ADsGetObject
// under Wine, against the private slapd of the test run.
#include "platform/win/com_ptr.h"

#include <activeds.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

constexpr const wchar_t* kGroup = L"LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com";

struct Outstanding {
  long objects = -1, references = -1, locks = -1;
};

Outstanding ProviderOutstanding() {
  Outstanding o;
  HMODULE dll = ::GetModuleHandleW(L"quorvel_adsldp.dll");
  if (!dll) return {0, 0, 0};  // never loaded, so nothing is outstanding
  using Fn = void(__stdcall*)(long*, long*, long*);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(dll, "QuorvelStandinOutstanding")));
  if (fn) fn(&o.objects, &o.references, &o.locks);
  return o;
}

std::wstring Text(BSTR b) { return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring(); }

std::vector<std::wstring> Strings(const VARIANT& v) {
  std::vector<std::wstring> out;
  if (v.vt != (VT_ARRAY | VT_VARIANT)) return out;
  LONG lo = 0, hi = -1;
  ::SafeArrayGetLBound(v.parray, 1, &lo);
  ::SafeArrayGetUBound(v.parray, 1, &hi);
  for (LONG i = lo; i <= hi; ++i) {
    VARIANT e;
    ::VariantInit(&e);
    ::SafeArrayGetElement(v.parray, &i, &e);
    out.push_back(e.vt == VT_BSTR ? Text(e.bstrVal) : L"<not a string>");
    ::VariantClear(&e);
  }
  return out;
}

class Provider : public ::testing::Test {
 protected:
  void TearDown() override {
    const Outstanding o = ProviderOutstanding();
    EXPECT_EQ(o.objects, 0);
    EXPECT_EQ(o.references, 0);
    EXPECT_EQ(o.locks, 0);
  }
  static std::vector<std::wstring> GetEx(IADs* ads, const wchar_t* name, HRESULT* hr = nullptr) {
    VARIANT v;
    ::VariantInit(&v);
    BSTR n = ::SysAllocString(name);
    const HRESULT r = ads->GetEx(n, &v);
    ::SysFreeString(n);
    if (hr) *hr = r;
    auto out = Strings(v);
    ::VariantClear(&v);
    return out;
  }
  ComApartment com_;
};

TEST_F(Provider, ReadsTheGroupAsActiveDirectoryShowsIt) {
  ComPtr<IADs> ads;
  ASSERT_EQ(::ADsGetObject(kGroup, IID_IADs, ads.put_void()), S_OK);
  BSTR name = nullptr, cls = nullptr, path = nullptr;
  EXPECT_EQ(ads->get_Name(&name), S_OK);
  EXPECT_EQ(ads->get_Class(&cls), S_OK);
  EXPECT_EQ(ads->get_ADsPath(&path), S_OK);
  EXPECT_EQ(Text(name), L"CN=Sales Team");
  EXPECT_EQ(Text(cls), L"group");
  EXPECT_EQ(Text(path), kGroup);
  ::SysFreeString(name);
  ::SysFreeString(cls);
  ::SysFreeString(path);

  struct Row {
    int line;
    const wchar_t* attribute;
    std::vector<std::wstring> values;
  };
  const std::vector<Row> rows = {
      {__LINE__, L"distinguishedName", {L"CN=Sales Team,OU=Staff,DC=example,DC=com"}},
      {__LINE__, L"name", {L"Sales Team"}},
      {__LINE__, L"sAMAccountName", {L"Sales Team"}},
      {__LINE__, L"samaccountname", {L"Sales Team"}},  // attribute names ignore case
      {__LINE__, L"member",
       {L"CN=Alma Reyes,OU=Staff,DC=example,DC=com", L"CN=Bob Stone,OU=Staff,DC=example,DC=com",
        L"CN=Sales Leads,OU=Staff,DC=example,DC=com"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "line " << row.line);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(GetEx(ads.get(), row.attribute, &hr), row.values);
    EXPECT_EQ(hr, S_OK);
  }
  HRESULT hr = S_OK;
  EXPECT_TRUE(GetEx(ads.get(), L"telephoneNumber", &hr).empty());
  EXPECT_EQ(hr, E_ADS_PROPERTY_NOT_FOUND);
}

TEST_F(Provider, MostSpecificClassOfAComputer) {
  ComPtr<IADs> ads;
  ASSERT_EQ(::ADsGetObject(L"LDAP://CN=WS01,OU=Staff,DC=example,DC=com", IID_IADs, ads.put_void()), S_OK);
  BSTR cls = nullptr;
  EXPECT_EQ(ads->get_Class(&cls), S_OK);
  EXPECT_EQ(Text(cls), L"computer");
  ::SysFreeString(cls);
}

TEST_F(Provider, FailuresAsThePlatformGivesThem) {
  struct Row {
    int line;
    const wchar_t* path;
    HRESULT expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, L"LDAP://CN=Nobody,OU=Staff,DC=example,DC=com", static_cast<HRESULT>(0x80072030)},
      {__LINE__, L"LDAP://127.0.0.1:1/CN=Sales Team,OU=Staff,DC=example,DC=com", static_cast<HRESULT>(0x8007203A)},
      {__LINE__, L"LDAP://CN=Sales Team,", E_ADS_BAD_PATHNAME},
      {__LINE__, L"LDAP:/CN=Sales Team", E_ADS_BAD_PATHNAME},
      {__LINE__, L"LDAP://127.0.0.1:0/DC=example,DC=com", E_ADS_BAD_PATHNAME},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "line " << row.line);
    // Wine's ADsGetObject leaves the out argument alone on failure; the provider hands out nothing.
    IADs* ads = nullptr;
    EXPECT_EQ(::ADsGetObject(row.path, IID_IADs, reinterpret_cast<void**>(&ads)), row.expected);
    EXPECT_EQ(ads, nullptr);
  }
}

TEST_F(Provider, PutAndSetInfoLandInTheDirectory) {
  const std::wstring value = L"Put at tick " + std::to_wstring(::GetTickCount64());
  {
    ComPtr<IADs> ads;
    ASSERT_EQ(::ADsGetObject(L"LDAP://CN=Carla Diaz,OU=Staff,DC=example,DC=com", IID_IADs, ads.put_void()), S_OK);
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(value.c_str());
    BSTR name = ::SysAllocString(L"description");
    EXPECT_EQ(ads->Put(name, v), S_OK);
    // Pending until SetInfo: the object shows it, the directory does not yet.
    EXPECT_EQ(GetEx(ads.get(), L"description"), std::vector<std::wstring>{value});
    EXPECT_EQ(ads->SetInfo(), S_OK);
    ::SysFreeString(name);
    ::VariantClear(&v);
  }
  ComPtr<IADs> fresh;
  ASSERT_EQ(::ADsGetObject(L"LDAP://CN=Carla Diaz,OU=Staff,DC=example,DC=com", IID_IADs, fresh.put_void()), S_OK);
  EXPECT_EQ(GetEx(fresh.get(), L"description"), std::vector<std::wstring>{value});
}

TEST_F(Provider, CreateWritesOnlyAtSetInfo) {
  const std::wstring cn = L"Temp " + std::to_wstring(::GetTickCount64());
  const std::wstring path = L"LDAP://CN=" + cn + L",OU=Staff,DC=example,DC=com";
  ComPtr<IADsContainer> staff;
  ASSERT_EQ(::ADsGetObject(L"LDAP://OU=Staff,DC=example,DC=com", IID_IADsContainer, staff.put_void()), S_OK);
  ComPtr<IDispatch> disp;
  BSTR cls = ::SysAllocString(L"user");
  BSTR rdn = ::SysAllocString((L"CN=" + cn).c_str());
  ASSERT_EQ(staff->Create(cls, rdn, disp.put()), S_OK);
  ComPtr<IADs> created;
  ASSERT_EQ(disp.As(IID_IADs, created), S_OK);
  IADs* missing = nullptr;
  EXPECT_EQ(::ADsGetObject(path.c_str(), IID_IADs, reinterpret_cast<void**>(&missing)),
            static_cast<HRESULT>(0x80072030));
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocString(L"tempacct");
  BSTR account = ::SysAllocString(L"sAMAccountName");
  EXPECT_EQ(created->Put(account, v), S_OK);
  EXPECT_EQ(created->SetInfo(), S_OK);
  ComPtr<IADs> bound;
  ASSERT_EQ(::ADsGetObject(path.c_str(), IID_IADs, bound.put_void()), S_OK);
  EXPECT_EQ(GetEx(bound.get(), L"sAMAccountName"), std::vector<std::wstring>{L"tempacct"});
  BSTR boundClass = nullptr;
  EXPECT_EQ(bound->get_Class(&boundClass), S_OK);
  EXPECT_EQ(Text(boundClass), L"user");
  // GetObject finds the child by its relative name, and refuses another class.
  ComPtr<IDispatch> child;
  EXPECT_EQ(staff->GetObject(cls, rdn, child.put()), S_OK);
  BSTR group = ::SysAllocString(L"group");
  EXPECT_EQ(staff->GetObject(group, rdn, child.put()), E_ADS_UNKNOWN_OBJECT);
  EXPECT_FALSE(child);
  for (BSTR b : {cls, rdn, account, boundClass, group}) ::SysFreeString(b);
  ::VariantClear(&v);
}

}  // namespace
}  // namespace quorvel
