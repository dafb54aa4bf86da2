// clipboard_holder HELD RELEASE: another process that keeps the clipboard open.
// Opens it, signals the named event HELD, and closes it once RELEASE is signalled
// (or after 60 s, so that a failed test cannot leave it open). It opens it for a
// window of its own: Wine lets a second OpenClipboard(NULL) take over one opened
// with NULL, whichever process holds it.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  HANDLE held = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
  HANDLE release = ::OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
  if (!held || !release) return 3;
  HWND window = ::CreateWindowExW(0, L"STATIC", L"clipboard holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
  if (!window || !::OpenClipboard(window)) return 4;
  ::SetEvent(held);
  ::WaitForSingleObject(release, 60000);
  ::CloseClipboard();
  ::DestroyWindow(window);
  ::CloseHandle(held);
  ::CloseHandle(release);
  return 0;
}
