// The directory property page extension: reads which object to show and where
// to report from the host's data object, and adds a General page that shows the
// object's name and class and edits its description, and for a group a Members
// page that opens the sheet of a member through the host.
#include "standins/adsldp/ads_path.h"
#include "standins/common/class_factory_win.h"
#include "standins/common/dialog_template_win.h"
#include "standins/common/module_win.h"
#include "standins/dsprop/sec_request.h"
#include "support/win/import_hook.h"

#include <activeds.h>
#include <commctrl.h>
#include <dsclient.h>
#include <shlobj.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::standins {
namespace {

constexpr UINT kNotifyChange = WM_USER + 1103;
constexpr UINT kNotifyApply = WM_USER + 1104;
constexpr UINT kNotifyExit = WM_USER + 1107;
constexpr UINT kSheetCreateNotify = WM_USER + 6;  // WM_DSA_SHEET_CREATE_NOTIFY
constexpr int kIdName = 1001, kIdClass = 1002, kIdDescription = 1003;
constexpr int kIdMembers = 1011, kIdOpenMember = 1012;


// A layout fault of the host is recorded where the tests look for leaks.
void RecordFault(const char* what) {
  const std::string line = std::string("quorvel_dsprop fault ") + what + "\n";
  AppendLedgerLine(line.data(), line.size());
}

// The block of one format, copied out, or empty when the host does not give it.
std::vector<BYTE> Fetch(IDataObject* data, const wchar_t* format) {
  FORMATETC fe{static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(format)), nullptr, DVASPECT_CONTENT, -1,
               TYMED_HGLOBAL};
  STGMEDIUM medium{};
  std::vector<BYTE> out;
  if (FAILED(data->GetData(&fe, &medium))) return out;
  if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
    const SIZE_T size = ::GlobalSize(medium.hGlobal);
    if (const void* p = ::GlobalLock(medium.hGlobal)) {
      out.assign(static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + size);
      ::GlobalUnlock(medium.hGlobal);
    }
  }
  ::ReleaseStgMedium(&medium);
  return out;
}

DWORD Dword(const std::vector<BYTE>& b, std::size_t at) {
  DWORD v = 0;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

// A zero-terminated UTF-16 string at offset, after the structure (whose size is
// header) and wholly inside the block.
bool StringAt(const std::vector<BYTE>& b, std::size_t header, std::size_t offset, std::wstring& out) {
  if (offset < header || offset % 2 || offset >= b.size()) return false;
  for (std::size_t i = offset; i + 1 < b.size(); i += 2) {
    const wchar_t c = static_cast<wchar_t>(b[i] | (b[i + 1] << 8));
    if (c == 0) return true;
    out += c;
  }
  return false;
}

// Labels, name, class, description.
DialogTemplate GeneralTemplate() {
  DialogTemplate t = StartDialog(WS_CHILD | WS_CAPTION, 252, 218, L"General");
  AddItem(t, 0, 7, 10, 60, 10, 0xFFFF, 0x0082, L"Name:");
  AddItem(t, 0, 70, 10, 175, 10, kIdName, 0x0082, L"");
  AddItem(t, 0, 7, 26, 60, 10, 0xFFFF, 0x0082, L"Class:");
  AddItem(t, 0, 70, 26, 175, 10, kIdClass, 0x0082, L"");
  AddItem(t, 0, 7, 44, 60, 10, 0xFFFF, 0x0082, L"&Description:");
  AddItem(t, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 70, 42, 175, 12, kIdDescription, 0x0081, L"");
  return t;
}

// The member list and the button that opens the selected member's sheet.
DialogTemplate MembersTemplate() {
  DialogTemplate t = StartDialog(WS_CHILD | WS_CAPTION, 252, 218, L"Members");
  AddItem(t, 0, 7, 10, 238, 10, 0xFFFF, 0x0082, L"&Members:");
  AddItem(t, WS_BORDER | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 7, 22, 238, 150, kIdMembers,
          0x0083, L"");
  AddItem(t, WS_TABSTOP | BS_PUSHBUTTON, 170, 178, 75, 14, kIdOpenMember, 0x0080, L"&Properties");
  return t;
}

std::wstring Bstr(BSTR b) { return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring(); }

// One page's state, from CreatePropertySheetPage to its release callback.
struct GeneralPage : Counted {
  IADs* object = nullptr;  // one reference of the page's own
  HWND hidden = nullptr;
  bool loading = false;
  bool dirty = false;  // the platform's pages write, and report an apply, only after an edit
  std::vector<WORD> dialog = GeneralTemplate();
  ~GeneralPage() {
    if (object) object->Release();
  }
};

INT_PTR CALLBACK GeneralProc(HWND page, UINT msg, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<GeneralPage*>(::GetWindowLongPtrW(page, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<GeneralPage*>(reinterpret_cast<PROPSHEETPAGEW*>(lp)->lParam);
      ::SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
      state->loading = true;
      BSTR name = nullptr, cls = nullptr;
      state->object->get_Name(&name);
      state->object->get_Class(&cls);
      ::SetDlgItemTextW(page, kIdName, Bstr(name).c_str());
      ::SetDlgItemTextW(page, kIdClass, Bstr(cls).c_str());
      ::SysFreeString(name);
      ::SysFreeString(cls);
      VARIANT v;
      ::VariantInit(&v);
      BSTR attr = ::SysAllocString(L"description");
      if (SUCCEEDED(state->object->Get(attr, &v)) && v.vt == VT_BSTR)
        ::SetDlgItemTextW(page, kIdDescription, v.bstrVal);
      ::VariantClear(&v);
      ::SysFreeString(attr);
      state->loading = false;
      return TRUE;
    }
    case WM_COMMAND:
      if (state && !state->loading && LOWORD(wp) == kIdDescription && HIWORD(wp) == EN_CHANGE) {
        state->dirty = true;
        ::SendMessageW(::GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
        ::SendMessageW(state->hidden, kNotifyChange, 0, 0);
      }
      return FALSE;
    case WM_NOTIFY:
      if (state && reinterpret_cast<NMHDR*>(lp)->code == static_cast<UINT>(PSN_APPLY)) {
        if (!state->dirty) {
          ::SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
          return TRUE;
        }
        state->dirty = false;
        wchar_t text[1024] = {};
        ::GetDlgItemTextW(page, kIdDescription, text, 1024);
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = ::SysAllocString(text);
        BSTR attr = ::SysAllocString(L"description");
        HRESULT hr = state->object->Put(attr, v);
        if (SUCCEEDED(hr)) hr = state->object->SetInfo();
        ::SysFreeString(attr);
        ::VariantClear(&v);
        ::SendMessageW(state->hidden, kNotifyApply, 0, 0);
        ::SetWindowLongPtrW(page, DWLP_MSGRESULT, SUCCEEDED(hr) ? PSNRET_NOERROR : PSNRET_INVALID);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (state) ::SendMessageW(state->hidden, kNotifyExit, 0, 0);
      return FALSE;
    default:
      return FALSE;
  }
}

UINT CALLBACK GeneralCallback(HWND, UINT msg, PROPSHEETPAGEW* psp) {
  if (msg == PSPCB_RELEASE) delete reinterpret_cast<GeneralPage*>(psp->lParam);
  return 1;
}

// The member DNs of a group, as GetEx gives them; none when it has no member.
std::vector<std::wstring> Members(IADs* group) {
  std::vector<std::wstring> out;
  VARIANT v;
  ::VariantInit(&v);
  BSTR attr = ::SysAllocString(L"member");
  if (SUCCEEDED(group->GetEx(attr, &v)) && v.vt == (VT_ARRAY | VT_VARIANT) && v.parray) {
    LONG low = 0, high = -1;
    ::SafeArrayGetLBound(v.parray, 1, &low);
    ::SafeArrayGetUBound(v.parray, 1, &high);
    for (LONG i = low; i <= high; ++i) {
      VARIANT item;
      ::VariantInit(&item);
      if (SUCCEEDED(::SafeArrayGetElement(v.parray, &i, &item)) && item.vt == VT_BSTR) out.push_back(Bstr(item.bstrVal));
      ::VariantClear(&item);
    }
  }
  ::VariantClear(&v);
  ::SysFreeString(attr);
  return out;
}

// The class of the object at dn, or empty text when it cannot be bound.
std::wstring ClassOf(const std::wstring& dn) {
  const std::wstring path = L"LDAP://" + dn;
  IADs* member = nullptr;
  std::wstring cls;
  if (SUCCEEDED(::ADsGetObject(path.c_str(), IID_IADs, reinterpret_cast<void**>(&member))) && member) {
    BSTR b = nullptr;
    if (SUCCEEDED(member->get_Class(&b))) cls = Bstr(b);
    ::SysFreeString(b);
    member->Release();
  }
  return cls;
}

std::u16string_view U16(const std::wstring& s) {
  return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}

// Which fault a page's n-th request plays, if the tests asked for any: the
// n-th word of QUORVEL_STANDIN_MALFORMED, and after the list's end a
// well-formed request again. Nothing for a list the page cannot read.
std::optional<RequestFault> RequestFaultFor(std::size_t n) {
  wchar_t list[512];
  const DWORD len = ::GetEnvironmentVariableW(L"QUORVEL_STANDIN_MALFORMED", list, 512);
  if (len == 0) return RequestFault::kNone;
  if (len >= 512) return std::nullopt;
  const auto faults = ParseRequestFaults(U16(std::wstring(list, len)));
  if (!faults) return std::nullopt;
  return n < faults->size() ? (*faults)[n] : RequestFault::kNone;
}

struct MembersPage : Counted {
  IADs* object = nullptr;  // one reference of the page's own
  HWND hidden = nullptr;
  std::size_t requests = 0;
  std::vector<std::size_t> sent;  // indices into g_sent
  std::vector<WORD> dialog = MembersTemplate();
  ~MembersPage() {
    if (object) object->Release();
  }
};

// The request blocks sent and how often the host freed each. Only the host's own
// frees are seen: its program's import of LocalFree points here from the first
// request until the last Members page that sent one is gone, so that a block the
// host frees later (a posted request) is counted too.
struct SentBlock {
  HLOCAL block;
  int frees;
};
std::vector<SentBlock> g_sent;
using LocalFreeFn = HLOCAL(WINAPI*)(HLOCAL);
LocalFreeFn g_realFree = nullptr;
std::unique_ptr<test::ScopedImportHook> g_freeHook;
int g_senders = 0;

HLOCAL WINAPI CountingFree(HLOCAL block) {
  for (auto it = g_sent.rbegin(); it != g_sent.rend(); ++it) {
    if (it->block != block) continue;
    if (++it->frees > 1) return block;  // a second free: counted, not passed on
    break;
  }
  return g_realFree(block);
}

// How far below the stack's top this frame lies, and how much the stack may take in all.
void StackUse(unsigned long long& used, unsigned long long& reserve) {
  using LimitsFn = VOID(WINAPI*)(PULONG_PTR, PULONG_PTR);
  static const auto limits = reinterpret_cast<LimitsFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetCurrentThreadStackLimits")));
  ULONG_PTR low = 0, high = 0;
  if (limits) limits(&low, &high);
  volatile char here = 0;
  used = high - reinterpret_cast<ULONG_PTR>(&here);
  reserve = high - low;
}

void LedgerLine(const std::string& line) { AppendLedgerLine(line.data(), line.size()); }

// Sends the block, or posts it when the tests ask (QUORVEL_STANDIN_POST_REQUESTS):
// the platform's pages may do either. First the stack the request stands on goes
// to the ledger, so that it is there even if the process dies deeper down.
void SendRequest(HWND hidden, MembersPage& state, HLOCAL block) {
  unsigned long long used = 0, reserve = 0;
  StackUse(used, reserve);
  LedgerLine("quorvel_dsprop stack used=" + std::to_string(used) + " reserve=" + std::to_string(reserve) + "\n");
  if (!g_freeHook) {
    const void* real = test::ImportedAddress(L"kernel32.dll", "LocalFree");
    g_realFree = reinterpret_cast<LocalFreeFn>(const_cast<void*>(real));
    g_freeHook = std::make_unique<test::ScopedImportHook>(real, reinterpret_cast<const void*>(CountingFree));
  }
  if (state.sent.empty()) ++g_senders;
  state.sent.push_back(g_sent.size());
  g_sent.push_back({block, 0});
  if (::GetEnvironmentVariableW(L"QUORVEL_STANDIN_POST_REQUESTS", nullptr, 0) == 0) {
    ::SendMessageW(hidden, kSheetCreateNotify, reinterpret_cast<WPARAM>(block), 0);
  } else if (!::PostMessageW(hidden, kSheetCreateNotify, reinterpret_cast<WPARAM>(block), 0)) {
    g_sent.back().frees = 1;  // never reached the host: the page's own again
    ::LocalFree(block);
  }
}

// How often the host freed each block this page sent: once is right. By now it
// has handled them all, nested sheets included, since they ran inside this page's sheet.
void ReportRequests(MembersPage& state) {
  for (const std::size_t at : state.sent)
    LedgerLine("quorvel_dsprop request frees=" + std::to_string(g_sent[at].frees) + "\n");
  if (!state.sent.empty() && --g_senders == 0) g_freeHook.reset();
  state.sent.clear();
}

// Asks the host for the sheet of dn, owned by the sheet that holds the page.
// The block goes with the message: the host's window frees it.
void RequestSheet(HWND page, MembersPage& state, const std::wstring& dn) {
  const auto fault = RequestFaultFor(state.requests++);
  const HWND hidden = state.hidden;
  if (!fault) {
    RecordFault("QUORVEL_STANDIN_MALFORMED");
    return;
  }
  HWND sheet = ::GetParent(page);
  if (*fault == RequestFault::kStaleParent) {
    // As if the page sent its request after its sheet had gone.
    sheet = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, ModuleInstance(), nullptr);
    ::DestroyWindow(sheet);
  }
  const std::wstring cls = ClassOf(dn);
  const std::u16string_view name = U16(dn);
  const std::vector<std::uint8_t> bytes =
      BuildSecPageRequest(reinterpret_cast<std::uintptr_t>(sheet), RdnValue(SplitFirstRdn(name).first), name,
                          U16(cls), *fault);
  if (bytes.empty()) {
    ::SendMessageW(hidden, kSheetCreateNotify, 0, 0);
    return;
  }
  HLOCAL block = ::LocalAlloc(LMEM_FIXED, bytes.size());
  if (!block) return;
  std::memcpy(block, bytes.data(), bytes.size());
  SendRequest(hidden, state, block);
}

INT_PTR CALLBACK MembersProc(HWND page, UINT msg, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<MembersPage*>(::GetWindowLongPtrW(page, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<MembersPage*>(reinterpret_cast<PROPSHEETPAGEW*>(lp)->lParam);
      ::SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
      const std::vector<std::wstring> members = Members(state->object);
      for (const std::wstring& dn : members)
        ::SendDlgItemMessageW(page, kIdMembers, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(dn.c_str()));
      ::SendDlgItemMessageW(page, kIdMembers, LB_SETCURSEL, 0, 0);
      ::EnableWindow(::GetDlgItem(page, kIdOpenMember), members.empty() ? FALSE : TRUE);
      return TRUE;
    }
    case WM_COMMAND: {
      const bool open = (LOWORD(wp) == kIdOpenMember && HIWORD(wp) == BN_CLICKED) ||
                        (LOWORD(wp) == kIdMembers && HIWORD(wp) == LBN_DBLCLK);
      if (!state || !open) return FALSE;
      const LRESULT at = ::SendDlgItemMessageW(page, kIdMembers, LB_GETCURSEL, 0, 0);
      if (at == LB_ERR) return TRUE;
      const auto index = static_cast<WPARAM>(at);
      const LRESULT len = ::SendDlgItemMessageW(page, kIdMembers, LB_GETTEXTLEN, index, 0);
      if (len == LB_ERR) return TRUE;
      std::wstring dn(static_cast<std::size_t>(len) + 1, L'\0');
      ::SendDlgItemMessageW(page, kIdMembers, LB_GETTEXT, index, reinterpret_cast<LPARAM>(dn.data()));
      dn.resize(static_cast<std::size_t>(len));
      RequestSheet(page, *state, dn);
      return TRUE;
    }
    case WM_DESTROY:
      if (state) ReportRequests(*state);
      return FALSE;
    default:
      return FALSE;
  }
}

UINT CALLBACK MembersCallback(HWND, UINT msg, PROPSHEETPAGEW* psp) {
  if (msg == PSPCB_RELEASE) delete reinterpret_cast<MembersPage*>(psp->lParam);
  return 1;
}

// Hands one page to the host; the page's state goes with it, or is deleted here.
template <typename State>
HRESULT AddPage(LPFNSVADDPROPSHEETPAGE add, LPARAM param, State* state, DLGPROC proc, LPFNPSPCALLBACKW callback) {
  PROPSHEETPAGEW psp{};
  psp.dwSize = sizeof psp;
  psp.dwFlags = PSP_DLGINDIRECT | PSP_USECALLBACK;
  psp.hInstance = ModuleInstance();
  psp.pResource = reinterpret_cast<const DLGTEMPLATE*>(state->dialog.data());
  psp.pfnDlgProc = proc;
  psp.lParam = reinterpret_cast<LPARAM>(state);
  psp.pfnCallback = callback;
  HPROPSHEETPAGE page = ::CreatePropertySheetPageW(&psp);
  if (!page) {
    delete state;
    return E_OUTOFMEMORY;
  }
  if (!add(page, param)) ::DestroyPropertySheetPage(page);  // the release callback deletes the state
  return S_OK;
}

class Extension final : public ComObject<Extension, IShellExtInit, IShellPropSheetExt> {
 public:
  ~Extension() {
    if (object_) object_->Release();
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    void* found = nullptr;
    if (iid == IID_IUnknown || iid == IID_IShellExtInit) {
      found = static_cast<IShellExtInit*>(this);
    } else if (iid == IID_IShellPropSheetExt) {
      found = static_cast<IShellPropSheetExt*>(this);
    }
    return Answer(found, out);
  }

  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) override {
    if (!data) return E_INVALIDARG;
    const std::vector<BYTE> names = Fetch(data, L"DsObjectNames");
    // DSOBJECTNAMES: clsidNamespace, cItems, then DSOBJECT {dwFlags, dwProviderFlags, offsetName, offsetClass}.
    std::wstring path, cls;
    if (names.size() < 36 || Dword(names, 16) != 1 || !StringAt(names, 36, Dword(names, 28), path) ||
        !StringAt(names, 36, Dword(names, 32), cls) || path.empty()) {
      RecordFault("DsObjectNames");
      return E_INVALIDARG;
    }
    const std::vector<BYTE> options = Fetch(data, L"DsDisplaySpecOptions");
    std::wstring prefix;
    if (options.size() < 28 || Dword(options, 0) != 28 || !StringAt(options, 28, Dword(options, 8), prefix) ||
        prefix.empty()) {
      RecordFault("DsDisplaySpecOptions");
      return E_INVALIDARG;
    }
    const std::vector<BYTE> config = Fetch(data, L"DsPropSheetCfgClipFormat");
    HWND hidden = nullptr;
    if (config.size() >= 32) std::memcpy(&hidden, config.data() + 16, sizeof hidden);
    if (config.size() < 32 || !::IsWindow(hidden)) {
      RecordFault("DsPropSheetCfgClipFormat");
      return E_INVALIDARG;
    }
    if (object_) object_->Release();
    object_ = nullptr;
    const HRESULT hr = ::ADsGetObject(path.c_str(), IID_IADs, reinterpret_cast<void**>(&object_));
    if (FAILED(hr)) return hr;
    hidden_ = hidden;
    return S_OK;
  }

  STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE add, LPARAM param) override {
    if (!add) return E_INVALIDARG;
    if (!object_) return E_UNEXPECTED;
    // Lets a test stand for an extension that has nothing to show.
    if (::GetEnvironmentVariableW(L"QUORVEL_STANDIN_NO_PAGES", nullptr, 0) != 0) return S_OK;
    auto* general = new GeneralPage();
    general->object = object_;
    object_->AddRef();
    general->hidden = hidden_;
    const HRESULT hr = AddPage(add, param, general, GeneralProc, GeneralCallback);
    if (FAILED(hr)) return hr;
    BSTR cls = nullptr;
    const bool group = SUCCEEDED(object_->get_Class(&cls)) && Bstr(cls) == L"group";
    ::SysFreeString(cls);
    if (!group) return S_OK;
    auto* members = new MembersPage();
    members->object = object_;
    object_->AddRef();
    members->hidden = hidden_;
    return AddPage(add, param, members, MembersProc, MembersCallback);
  }
  STDMETHODIMP ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }

 private:
  IADs* object_ = nullptr;
  HWND hidden_ = nullptr;
};

}  // namespace

const wchar_t kModuleName[] = L"quorvel_dsprop";

HRESULT GetModuleClassFactory(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != CLSID_DsPropertyPages) return CLASS_E_CLASSNOTAVAILABLE;
  return GetFactory<Extension>(iid, out);
}

}  // namespace quorvel::standins
