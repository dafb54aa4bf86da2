// Entry point: forms the command-line tail as the application framework would and
// runs the application object's two steps.
#include "app/dispatch.h"
#include "app/quorvel_app.h"

#include <cwchar>
#include <string_view>

namespace {
quorvel::CQuorvelApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The C runtime's own tail rules differ from the framework's; form it ourselves.
  const wchar_t* line = ::GetCommandLineW();
  const std::u16string_view whole(reinterpret_cast<const char16_t*>(line), std::wcslen(line));
  const std::u16string_view tail = quorvel::CommandTailFrom(whole);
  theApp.m_hInstance = instance;
  theApp.m_lpCmdLine = line + (tail.data() - whole.data());
  theApp.InitInstance();
  return theApp.ExitInstance();
}
