// A message-only window of the calling thread, in a class of its own: where a test
// or a driver takes the posts of the runs it starts.
#pragma once

#include <windows.h>

namespace quorvel::test {

inline HWND MessageOnlyWindow(const wchar_t* className, WNDPROC procedure) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = procedure;
  cls.lpszClassName = className;
  ::RegisterClassW(&cls);  // a second window of the class finds it registered
  return ::CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

}  // namespace quorvel::test
