// A console unloads a snap-in DLL whose run it let go while the run's thread is still
// busy: here inside GetClipboardData, which waits for the clipboard's owner (this
// test) to render the run's format. The console must live on, and the DLL go once
// the thread has ended.
#include "support/win/message_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using StartFn = HRESULT (*)(HWND, const wchar_t*);
using AbandonFn = void (*)();

HMODULE g_snapin = nullptr;

template <typename F>
F Export(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(g_snapin, name)));
}
bool g_rendered = false;

std::wstring Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::wstring(value, value + std::char_traits<char>::length(value)) : std::wstring();
}

LRESULT CALLBACK Owner(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_RENDERFORMAT) return ::DefWindowProcW(window, message, wParam, lParam);
  // The run's thread waits in GetClipboardData: let the run go and unload its code now.
  Export<AbandonFn>("SnapinAbandon")();
  ::FreeLibrary(g_snapin);
  // Then answer with bytes that are no record, so that its look goes on and ends.
  if (HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8)) {
    if (!::SetClipboardData(static_cast<UINT>(wParam), block)) ::GlobalFree(block);
  }
  g_rendered = true;
  return 0;
}

// Answers messages until `done` holds or `ms` pass.
template <typename F>
bool PumpUntil(F done, DWORD ms) {
  const ULONGLONG until = ::GetTickCount64() + ms;
  while (!done() && ::GetTickCount64() < until) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  return done();
}

TEST(ClientUnload, ASnapinUnloadedWhileItsRunIsBusyLeavesTheConsoleRunning) {
  const std::wstring helper = Env("QVCLIENT_DRIVER"), snapin = Env("QVCLIENT_SNAPIN");
  ASSERT_FALSE(helper.empty());
  ASSERT_FALSE(snapin.empty());
  // A helper that ends 0 after three seconds, having published nothing.
  ::SetEnvironmentVariableW(L"QVCLIENT_HELPER_SLEEP", L"3000");
  const HWND window = quorvel::test::MessageOnlyWindow(L"client_unload_test", Owner);
  ASSERT_NE(window, nullptr);
  const UINT format = ::RegisterClipboardFormatW(L"tarnwick.adcreateobjwiz.run");

  g_snapin = ::LoadLibraryW(snapin.c_str());
  ASSERT_NE(g_snapin, nullptr) << ::GetLastError();
  const auto start = Export<StartFn>("SnapinStartWizard");
  ASSERT_EQ(start(window, helper.c_str()), S_OK);
  // A change the run's watch sees: its format, offered here and rendered only when asked for.
  ASSERT_TRUE(::OpenClipboard(window));
  ::EmptyClipboard();
  ::SetClipboardData(format, nullptr);
  ::CloseClipboard();

  EXPECT_TRUE(PumpUntil([] { return g_rendered; }, 20000)) << "the run never read the clipboard";
  // The thread ends, and gives the module back as it does.
  const std::wstring name = snapin.substr(snapin.find_last_of(L"\\/") + 1);
  EXPECT_TRUE(PumpUntil([&] { return ::GetModuleHandleW(name.c_str()) == nullptr; }, 20000))
      << "the snap-in stayed loaded after its run's thread ended";
  if (::OpenClipboard(window)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
  ::DestroyWindow(window);
}

}  // namespace
