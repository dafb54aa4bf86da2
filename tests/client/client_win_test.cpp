// The client's promises that hold whatever the helper does: a failed start leaves
// the run empty, and the blocking calls offer each message to the caller's filter.
#include "quorvel_client.h"

// The header leaves <windows.h> as the console configures it (mingw's C++ library
// defines NOMINMAX itself, so only the other can be checked here).
#ifdef WIN32_LEAN_AND_MEAN
#error "quorvel_client.h defined one of the console's macros"
#endif
static_assert(sizeof(&::CommandLineToArgvW) > 0, "<windows.h> without WIN32_LEAN_AND_MEAN declares it");

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace qc = quorvel::client;

std::vector<UINT> g_dispatched;
LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) g_dispatched.push_back(message);
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND MessageWindow() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = Record;
  cls.lpszClassName = L"client_win_test";
  ::RegisterClassW(&cls);
  return ::CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

TEST(ClientStart, AFailedStartLeavesTheRunEmpty) {
  const HWND window = MessageWindow();
  qc::Run run;
  // A refusal is posted, and its run holds an id until then.
  ASSERT_EQ(qc::StartCreateWizard(window, WM_APP, L"", L"OU=a", qc::ObjectType::User, run), S_OK);
  ASSERT_TRUE(run);
  ::DestroyWindow(window);
  EXPECT_EQ(qc::StartCreateWizard(window, WM_APP, L"q.exe", L"OU=a", qc::ObjectType::User, run), E_HANDLE);
  EXPECT_FALSE(run);
}

TEST(ClientWait, AFilterSeesEveryMessageAndKeepsWhatItTakesFromDispatch) {
  const char* driver = std::getenv("QVCLIENT_DRIVER");
  ASSERT_NE(driver, nullptr);
  const std::wstring helper(driver, driver + std::char_traits<char>::length(driver));
  // Another helper that ends 0 a second later, having published nothing.
  ::SetEnvironmentVariableW(L"QVCLIENT_HELPER_SLEEP", L"1000");
  const HWND window = MessageWindow();
  ::PostMessageW(window, WM_APP, 0, 0);
  ::PostMessageW(window, WM_APP + 1, 0, 0);
  std::vector<UINT> offered;
  g_dispatched.clear();
  const qc::Outcome outcome = qc::RunCreateWizard(helper, L"OU=a", qc::ObjectType::User, [&](MSG& m) {
    if (m.hwnd == window) offered.push_back(m.message);
    return m.message == WM_APP;  // as IsDialogMessageW does with a dialog's own keys
  });
  EXPECT_EQ(outcome.result, qc::Result::CreatedNamesUnknown);
  EXPECT_EQ(offered, (std::vector<UINT>{WM_APP, WM_APP + 1}));
  EXPECT_EQ(g_dispatched, std::vector<UINT>{WM_APP + 1});
  ::DestroyWindow(window);
}

}  // namespace
