// The creation wizard stand-in: what Initialize refuses, as the platform's wizard
// does. Its dialog, answered as a person would, is wizard_e2e.sh's (user, cancel).
#include "platform/win/com_ptr.h"

#include <activeds.h>
#include <prsht.h>
#include <dsadmin.h>
#include <gtest/gtest.h>

#include <vector>

namespace quorvel {
namespace {

const CLSID kCreateObj = {0xe301a009, 0xf901, 0x11d2, {0x82, 0xb9, 0x00, 0xc0, 0x4f, 0x68, 0x92, 0x8b}};
const IID kICreateObj = {0x53554a38, 0xf902, 0x11d2, {0x82, 0xb9, 0x00, 0xc0, 0x4f, 0x68, 0x92, 0x8b}};

long Outstanding(const wchar_t* dll) {
  HMODULE m = ::GetModuleHandleW(dll);
  if (!m) return 0;
  using Fn = void(__stdcall*)(long*, long*, long*);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, "QuorvelStandinOutstanding")));
  long objects = -1, references = -1, locks = -1;
  if (fn) fn(&objects, &references, &locks);
  return objects + references + locks;
}

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::ADsGetObject(L"LDAP://OU=Staff,DC=example,DC=com", IID_IADsContainer, staff_.put_void()), S_OK);
    ASSERT_EQ(::CoCreateInstance(kCreateObj, nullptr, CLSCTX_INPROC_SERVER, kICreateObj, wizard_.put_void()),
              S_OK);
  }
  void TearDown() override {
    wizard_.reset();
    staff_.reset();
    EXPECT_EQ(Outstanding(L"quorvel_dsadmin.dll"), 0);
    EXPECT_EQ(Outstanding(L"quorvel_adsldp.dll"), 0);
  }
  ComApartment com_;
  ComPtr<IADsContainer> staff_;
  ComPtr<IDsAdminCreateObj> wizard_;
};

TEST_F(Wizard, InitializeRefusesWhatItCannotCreate) {
  struct Row {
    int line;
    bool container;
    const wchar_t* cls;
    HRESULT expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, true, L"", E_INVALIDARG},
      {__LINE__, true, L"printer", E_INVALIDARG},
      {__LINE__, true, L"User", E_INVALIDARG},  // class names are exact
      {__LINE__, true, nullptr, E_INVALIDARG},
      {__LINE__, false, L"user", E_INVALIDARG},
      {__LINE__, true, L"group", S_OK},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "line " << row.line);
    EXPECT_EQ(wizard_->Initialize(row.container ? staff_.get() : nullptr, nullptr, row.cls), row.expected);
  }
  IADs* created = reinterpret_cast<IADs*>(0x1);
  ComPtr<IDsAdminCreateObj> fresh;
  ASSERT_EQ(::CoCreateInstance(kCreateObj, nullptr, CLSCTX_INPROC_SERVER, kICreateObj, fresh.put_void()), S_OK);
  EXPECT_EQ(fresh->CreateModal(nullptr, &created), E_UNEXPECTED);  // not initialised
  EXPECT_EQ(created, nullptr);
}

}  // namespace
}  // namespace quorvel
