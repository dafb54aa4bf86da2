// A small directory console, as a console author would write one on top of the
// client library: a list of objects, a Properties button and three New buttons.
// Every job runs quorvel.exe asynchronously; the window keeps working while a sheet
// or a wizard is up, and the status line tells how each run ended.
//
//   qvconsole.exe [/quorvel:PATH] [/objects:FILE] [/log:FILE]
//
// quorvel.exe is found as the client finds it (LocateHelper: beside this program,
// then where the installer recorded it); /quorvel:PATH, for a developer, names it
// instead. FILE defaults to objects.txt beside this program.
// /log: appends every status line to a file, in UTF-8 (for scripts).
// FILE holds one object a line, "kind<TAB>distinguished name" (kind: user, group,
// computer or ou), in UTF-8; '#' starts a comment line.
#include "dn_rules.h"
#include "quorvel_client.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace qc = quorvel::client;
namespace rules = quorvel::client::rules;

constexpr UINT kRunEnded = WM_APP + 1;
enum : int { kList = 100, kProperties, kNewUser, kNewGroup, kNewComputer, kStatus };

struct Object {
  std::wstring kind;  // user, group, computer, ou
  std::wstring dn;
};

const wchar_t* const kKinds[] = {L"user", L"group", L"computer"};

// One job in flight: the run, the words the status line uses for it, its command
// and the object's DN (the container's for a wizard).
struct Job {
  qc::Run run;
  std::wstring what;
  int command = 0;
  std::wstring dn;
};

struct Console {
  std::wstring helper, log;
  std::wstring notFound;  // why quorvel.exe was not found; empty when it was
  std::vector<Object> objects;
  HWND window = nullptr, list = nullptr, status = nullptr;
  HWND buttons[4] = {};
  HFONT font = nullptr;
  std::map<UINT_PTR, Job> jobs;
};
Console g;

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::wstring ModuleFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// The DN rules take UTF-16 as char16_t; wchar_t is the same 16-bit unit on Windows.
std::u16string_view U16(const std::wstring& text) {
  return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}
std::wstring FromU16(const std::u16string& text) { return {reinterpret_cast<const wchar_t*>(text.data()), text.size()}; }

std::wstring DisplayName(const std::wstring& dn) { return FromU16(rules::DisplayName(U16(dn))); }
std::wstring PathDn(const std::wstring& dn) { return FromU16(rules::PathDn(U16(dn))); }
std::wstring ContainerOf(const Object& o) { return FromU16(rules::ContainerOf(U16(o.dn), o.kind == L"ou")); }

std::vector<Object> LoadObjects(const std::wstring& file, std::wstring& error) {
  std::vector<Object> objects;
  std::ifstream in(file.c_str(), std::ios::binary);
  if (!in) {
    error = L"Cannot read " + file + L".";
    return objects;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos || tab + 1 == line.size()) continue;
    objects.push_back({Widen(line.substr(0, tab)), Widen(line.substr(tab + 1))});
  }
  if (objects.empty()) error = L"No objects in " + file + L".";
  return objects;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void SetStatus(const std::wstring& text) {
  ::SendMessageW(g.status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (g.log.empty()) return;
  HANDLE file = ::CreateFileW(g.log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string line = Narrow(text) + "\n";
  DWORD written = 0;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
}

void AddRow(const Object& o) {
  std::wstring name = DisplayName(o.dn);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(::SendMessageW(g.list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = name.data();
  const int row = static_cast<int>(::SendMessageW(g.list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  std::wstring kind = o.kind, dn = o.dn;
  LVITEMW cell{};
  cell.iSubItem = 1;
  cell.pszText = kind.data();
  ::SendMessageW(g.list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
  cell.iSubItem = 2;
  cell.pszText = dn.data();
  ::SendMessageW(g.list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

const Object* Selected() {
  const auto row = static_cast<int>(::SendMessageW(g.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  return row >= 0 && static_cast<std::size_t>(row) < g.objects.size() ? &g.objects[static_cast<std::size_t>(row)]
                                                                      : nullptr;
}

std::wstring HexCode(HRESULT code) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
  return text;
}

// What the status line says when a run has ended.
std::wstring Describe(const std::wstring& what, const qc::Outcome& o) {
  switch (o.result) {
    case qc::Result::Unchanged: return what + L": closed, nothing changed.";
    case qc::Result::Changed: return what + L": changes applied.";
    case qc::Result::Created: {
      const qc::CreatedObject& c = o.created;
      std::wstring text = what + L": created " + (c.name.empty() ? DisplayName(c.distinguishedName) : c.name);
      if (!c.samAccountName.empty()) text += L" (" + c.samAccountName + L")";
      return text + L", " + c.distinguishedName;
    }
    case qc::Result::CreatedNamesUnknown: return what + L": created; its names are unknown. " + o.reason;
    case qc::Result::Cancelled: return what + L": cancelled.";
    default: return what + L": " + HexCode(o.code) + L" " + o.reason;
  }
}

// Found again while missing: it may have been installed since the console started.
bool FindHelper() {
  if (!g.helper.empty()) return true;
  qc::Location location = qc::LocateHelper();
  g.helper = std::move(location.path);
  g.notFound = g.helper.empty() ? std::move(location.reason) : std::wstring();
  return !g.helper.empty();
}

void Start(int command) {
  const Object* o = Selected();
  if (!o) {
    SetStatus(L"Select an object first.");
    return;
  }
  const int type = command - kNewUser;
  const std::wstring container = ContainerOf(*o);
  const std::wstring kind = command == kProperties ? L"" : kKinds[type];
  const std::wstring what =
      command == kProperties ? L"Properties of " + DisplayName(o->dn) : L"New " + kind + L" in " + DisplayName(container);
  const std::wstring& dn = command == kProperties ? o->dn : container;
  // The same job twice would only stack a second window over the first. Two objects
  // may share a name in different containers: the DN tells them apart.
  for (const auto& job : g.jobs) {
    if (job.second.command == command && rules::SameDn(U16(job.second.dn), U16(dn))) {
      SetStatus(what + L": already open in quorvel.");
      return;
    }
  }
  if (!FindHelper()) {
    SetStatus(what + L": " + g.notFound);
    return;
  }
  // quorvel.exe makes the wizard's container path as "LDAP://" and the argument, so
  // the argument is the DN as a path writes it, like the sheet's.
  qc::Run run;
  const HRESULT hr =
      command == kProperties
          ? qc::StartPropertySheet(g.window, kRunEnded, g.helper, L"LDAP://" + PathDn(dn), run)
          : qc::StartCreateWizard(g.window, kRunEnded, g.helper, PathDn(dn), static_cast<qc::ObjectType>(type), run);
  if (FAILED(hr)) {
    SetStatus(what + L": could not start (" + HexCode(hr) + L").");
    return;
  }
  SetStatus(what + L": open in quorvel.");
  const UINT_PTR id = run.Id();
  g.jobs[id] = Job{std::move(run), what, command, dn};
}

void Ended(WPARAM id, LPARAM lParam) {
  const std::unique_ptr<qc::Outcome> outcome = qc::TakeOutcome(lParam);
  const auto job = g.jobs.find(id);
  if (job == g.jobs.end() || !outcome) return;
  SetStatus(Describe(job->second.what, *outcome));
  if (outcome->result == qc::Result::Created && !outcome->created.distinguishedName.empty()) {
    g.objects.push_back({kKinds[job->second.command - kNewUser], outcome->created.distinguishedName});
    AddRow(g.objects.back());
  }
  g.jobs.erase(job);
}

void Layout(int width, int height) {
  ::SendMessageW(g.status, WM_SIZE, 0, 0);
  RECT bar{};
  ::GetWindowRect(g.status, &bar);
  const int margin = 8, button = 120, row = 28;
  const int listHeight = height - (bar.bottom - bar.top) - 2 * margin;
  ::MoveWindow(g.list, margin, margin, width - button - 3 * margin, listHeight, TRUE);
  for (int i = 0; i < 4; ++i)
    ::MoveWindow(g.buttons[i], width - button - margin, margin + i * (row + 6), button, row, TRUE);
}

HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
  HWND child = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, g.window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(g.font), FALSE);
  return child;
}

void Create(HWND window) {
  g.window = window;
  g.list = Child(WC_LISTVIEWW, L"", WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, kList);
  ::SendMessageW(g.list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const wchar_t* headings[] = {L"Name", L"Type", L"Distinguished name"};
  const int widths[] = {120, 60, 300};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = widths[i];
    column.pszText = const_cast<wchar_t*>(headings[i]);
    ::SendMessageW(g.list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  const wchar_t* labels[] = {L"&Properties", L"New &user", L"New &group", L"New &computer"};
  for (int i = 0; i < 4; ++i)
    g.buttons[i] = Child(WC_BUTTONW, labels[i], WS_TABSTOP | (i ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON), kProperties + i);
  g.status = Child(STATUSCLASSNAMEW, L"", 0, kStatus);
  for (const Object& o : g.objects) AddRow(o);
  LVITEMW select{};
  select.stateMask = select.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(g.list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&select));
  ::SetFocus(g.list);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: Create(window); return 0;
    case WM_SIZE: Layout(LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDOK) Start(kProperties);  // Return in the list
      else if (id >= kProperties && id <= kNewComputer) Start(id);
      return 0;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == kList && header->code == LVN_ITEMACTIVATE) Start(kProperties);
      return 0;
    }
    case kRunEnded: Ended(wParam, lParam); return 0;
    case WM_DESTROY:
      // The runs are let go: a sheet someone is still editing stays up.
      g.jobs.clear();
      ::PostQuitMessage(0);
      return 0;
    default: return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  std::wstring objectsFile = ModuleFolder() + L"objects.txt";
  int argc = 0;
  if (wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) {
      const std::wstring arg = argv[i];
      if (arg.rfind(L"/quorvel:", 0) == 0) g.helper = arg.substr(9);
      else if (arg.rfind(L"/objects:", 0) == 0) objectsFile = arg.substr(9);
      else if (arg.rfind(L"/log:", 0) == 0) g.log = arg.substr(5);
    }
    ::LocalFree(argv);
  }
  std::wstring error;
  g.objects = LoadObjects(objectsFile, error);

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  g.font = ::CreateFontIndirectW(&metrics.lfMessageFont);

  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance;
  cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  cls.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = L"QuorvelSampleConsole";
  if (!::RegisterClassExW(&cls)) return 1;
  const wchar_t* title = sizeof(void*) == 4 ? L"Sample console (x86)" : L"Sample console (x86-64)";
  HWND window = ::CreateWindowExW(0, cls.lpszClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  720, 300, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  SetStatus(!error.empty() ? error : FindHelper() ? L"Quorvel: " + g.helper : g.notFound);
  ::ShowWindow(window, show);

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(window, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (g.font) ::DeleteObject(g.font);
  return static_cast<int>(msg.wParam);
}
