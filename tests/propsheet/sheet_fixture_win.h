// A made-up directory and a scripted page extension around real hosts, for tests
// that show sheets under Wine; and the bytes of a block the host hands out.
#pragma once

#include "platform/win/com_ptr.h"
#include "propsheet/ad_object_property_wnd.h"
#include "support/win/fake_directory.h"
#include "support/win/fake_page_extension.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace quorvel {

// Every byte GlobalSize reports, which may round up past the rendering.
inline std::vector<std::uint8_t> BlockBytes(HGLOBAL block) {
  std::vector<std::uint8_t> out(::GlobalSize(block));
  if (const void* p = ::GlobalLock(block)) {
    std::memcpy(out.data(), p, out.size());
    ::GlobalUnlock(block);
  }
  return out;
}

class SheetTest : public testing::Test {
 protected:
  static constexpr wchar_t kSalesPath[] = L"QVTEST://CN=Sales Team,DC=example";

  void SetUp() override {
    ASSERT_EQ(directory_.ready(), S_OK) << "the test provider could not be registered";
    ASSERT_EQ(extensions_.ready(), S_OK) << "the page extension could not be registered";
    directory_.Add(kSalesPath, &sales_);
  }

  static ComPtr<CADObjectPropertyWnd> NewHost(HWND parent = ::GetDesktopWindow()) {
    return ComPtr<CADObjectPropertyWnd>(new CADObjectPropertyWnd(::GetModuleHandleW(nullptr), parent));
  }

  // References on the host other than the caller's one.
  static LONG OthersHolding(CADObjectPropertyWnd* host) {
    const ULONG now = host->AddRef();
    host->Release();
    return static_cast<LONG>(now) - 2;
  }

  ComApartment com_;
  test::FakeDirectory directory_;
  test::FakePageExtensions extensions_;
  test::FakeADs sales_{L"CN=Sales Team", L"group", kSalesPath};
};

}  // namespace quorvel
