// qvrecord: the console's side of the creation job, for scripts and the demo.
//   qvrecord              prints the three names of the record on the clipboard
//                         (exit 1 when there is none)
//   qvrecord --text       prints the clipboard's text
//   qvrecord --clear      empties the clipboard, so that a stale record cannot be
//                         taken for a new one
//   qvrecord --seed MARK  empties the clipboard and puts MARK on it as text and as
//                         a record with MARK in every field, so that a script can
//                         tell afterwards whether either was replaced
// Output is UTF-8. Reading the record is done as docs/integration.md shows it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct CreatedObject {
  std::wstring dn, name, account;
};

std::wstring Field(const BYTE* record, size_t offset, size_t units) {
  std::wstring text;
  for (size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<wchar_t>(record[offset + 2 * i] | (record[offset + 2 * i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

bool ReadCreatedObject(CreatedObject& out) {
  const UINT format = RegisterClipboardFormatW(L"tarnwick.adcreateobjwiz.clip");
  if (!format || !OpenClipboard(nullptr)) return false;
  BYTE record[680] = {};
  bool found = false;
  if (HANDLE data = GetClipboardData(format)) {
    if (GlobalSize(data) >= sizeof(record)) {
      if (const void* p = GlobalLock(data)) {
        std::memcpy(record, p, sizeof(record));
        GlobalUnlock(data);
        found = true;
      }
    }
  }
  CloseClipboard();
  if (!found) return false;
  out.dn = Field(record, 0, 260);
  out.name = Field(record, 520, 64);
  out.account = Field(record, 648, 16);
  return true;
}

void PrintLine(const char* label, const std::wstring& text) {
  std::string utf8;
  if (!text.empty()) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    utf8.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), n, nullptr,
                          nullptr);
  }
  std::printf("%s%s\n", label, utf8.c_str());
}

HGLOBAL Block(const void* bytes, size_t size) {
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  if (void* p = ::GlobalLock(block)) {
    std::memcpy(p, bytes, size);
    ::GlobalUnlock(block);
  }
  return block;
}

int Seed(const std::wstring& mark) {
  BYTE record[680] = {};
  const size_t fields[][2] = {{0, 260}, {520, 64}, {648, 16}};
  for (const auto& f : fields) {
    for (size_t i = 0; i < mark.size() && i < f[1]; ++i) {
      record[f[0] + 2 * i] = static_cast<BYTE>(mark[i] & 0xFF);
      record[f[0] + 2 * i + 1] = static_cast<BYTE>(mark[i] >> 8);
    }
  }
  const std::wstring text = mark + L'\0';
  // A clipboard emptied for no window has no owner, and Windows then refuses data.
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"qvrecord", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
  const UINT format = ::RegisterClipboardFormatW(L"tarnwick.adcreateobjwiz.clip");
  if (!format || !::OpenClipboard(owner)) return 2;
  ::EmptyClipboard();
  int status = 0;
  const struct {
    UINT format;
    const void* bytes;
    size_t size;
  } items[] = {{format, record, sizeof record}, {CF_UNICODETEXT, text.c_str(), text.size() * sizeof(wchar_t)}};
  for (const auto& item : items) {
    HGLOBAL block = Block(item.bytes, item.size);
    if (!block || !::SetClipboardData(item.format, block)) {
      if (block) ::GlobalFree(block);
      status = 2;
    }
  }
  ::CloseClipboard();
  if (owner) ::DestroyWindow(owner);
  return status;
}

int Clear() {
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"qvrecord", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
  if (!::OpenClipboard(owner)) return 2;
  const int status = ::EmptyClipboard() ? 0 : 2;
  ::CloseClipboard();
  if (owner) ::DestroyWindow(owner);
  return status;
}

int PrintText() {
  if (!::OpenClipboard(nullptr)) return 2;
  std::wstring text;
  bool found = false;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const wchar_t*>(::GlobalLock(data))) {
      text.assign(p, wcsnlen(p, ::GlobalSize(data) / sizeof(wchar_t)));
      ::GlobalUnlock(data);
      found = true;
    }
  }
  ::CloseClipboard();
  if (!found) {
    std::puts("no text on the clipboard");
    return 1;
  }
  PrintLine("text: ", text);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"--seed") == 0) return Seed(argv[2]);
  if (argc == 2 && std::wcscmp(argv[1], L"--text") == 0) return PrintText();
  if (argc == 2 && std::wcscmp(argv[1], L"--clear") == 0) return Clear();
  if (argc != 1) {
    std::fputs("usage: qvrecord [--text | --clear | --seed MARK]\n", stderr);
    return 2;
  }
  CreatedObject created;
  if (!ReadCreatedObject(created)) {
    std::puts("no record on the clipboard");
    return 1;
  }
  PrintLine("distinguishedName: ", created.dn);
  PrintLine("name: ", created.name);
  PrintLine("sAMAccountName: ", created.account);
  return 0;
}
