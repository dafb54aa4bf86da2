// sheet_driver PATH: shows the extension's pages for PATH in a modal sheet, as a
// host would, with a hidden window that counts the pages' notifications, and
// prints the counts when the sheet closes. A script drives the sheet.
#include "block_data_win.h"
#include "platform/win/com_ptr.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const CLSID kDsPropertyPages = {0x0d45d530, 0x764b, 0x11d0, {0xa1, 0xca, 0x00, 0xaa, 0x00, 0xc1, 0x6e, 0x65}};
int g_change = 0, g_apply = 0, g_exit = 0;
HWND g_hidden = nullptr;
std::wstring g_path;

LRESULT CALLBACK HiddenProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_USER + 1103) ++g_change;
  if (m == WM_USER + 1104) ++g_apply;
  if (m == WM_USER + 1107) ++g_exit;
  return ::DefWindowProcW(w, m, wp, lp);
}

BOOL CALLBACK Collect(HPROPSHEETPAGE page, LPARAM param) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(param)->push_back(page);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  g_path = argv[1];
  ::CoInitialize(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = HiddenProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SheetDriverHidden";
  ::RegisterClassW(&wc);
  g_hidden = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  std::vector<HPROPSHEETPAGE> pages;
  HRESULT hr = S_OK;
  // Lives as long as the sheet, whose pages may read it again.
  quorvel::FakeData data;
  data.names = quorvel::ObjectNames(g_path, L"group");
  data.options = quorvel::DisplayOptions();
  data.config = quorvel::SheetConfig(g_hidden);
  {
    quorvel::ComPtr<IShellExtInit> init;
    hr = ::CoCreateInstance(kDsPropertyPages, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
    if (SUCCEEDED(hr)) hr = init->Initialize(nullptr, &data, nullptr);
    quorvel::ComPtr<IShellPropSheetExt> ext;
    if (SUCCEEDED(hr)) hr = init.As(IID_IShellPropSheetExt, ext);
    if (SUCCEEDED(hr)) hr = ext->AddPages(Collect, reinterpret_cast<LPARAM>(&pages));
  }
  if (SUCCEEDED(hr) && !pages.empty()) {
    PROPSHEETHEADERW h{};
    h.dwSize = sizeof h;
    h.pszCaption = argv[2];
    h.nPages = static_cast<UINT>(pages.size());
    h.phpage = pages.data();
    ::PropertySheetW(&h);
  }
  ::DestroyWindow(g_hidden);
  std::printf("hr=0x%08lX pages=%u change=%d apply=%d exit=%d\n", static_cast<unsigned long>(hr),
              static_cast<unsigned>(pages.size()), g_change, g_apply, g_exit);
  std::fflush(stdout);
  ::CoUninitialize();
  return 0;
}
