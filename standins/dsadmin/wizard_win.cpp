// The creation wizard: one modal dialog that asks for the new object's name and
// account name, then creates it in the container it was given.
#include "standins/common/class_factory_win.h"
#include "standins/common/dialog_template_win.h"
#include "standins/common/module_win.h"

#include <activeds.h>
#include <prsht.h>
// dsadmin.h needs the property sheet and directory types declared first.
#include <dsadmin.h>

#include <cstring>
#include <string>
#include <vector>

namespace quorvel::standins {
namespace {

constexpr int kIdName = 1001, kIdAccount = 1002;

DialogTemplate WizardTemplate(const wchar_t* title) {
  DialogTemplate t = StartDialog(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 230, 80, title);
  AddItem(t, 0, 7, 10, 70, 10, 0xFFFF, 0x0082, L"&Name:");
  AddItem(t, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 80, 8, 143, 12, kIdName, 0x0081, L"");
  AddItem(t, 0, 7, 28, 70, 10, 0xFFFF, 0x0082, L"&Account name:");
  AddItem(t, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 80, 26, 143, 12, kIdAccount, 0x0081, L"");
  AddItem(t, WS_TABSTOP | BS_DEFPUSHBUTTON, 112, 58, 54, 14, IDOK, 0x0080, L"Finish");
  AddItem(t, WS_TABSTOP, 170, 58, 54, 14, IDCANCEL, 0x0080, L"Cancel");
  return t;
}

struct Answers {
  wchar_t name[256] = {};
  wchar_t account[256] = {};
};

INT_PTR CALLBACK WizardProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dlg, DWLP_USER, lp);
    return TRUE;
  }
  if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    auto* answers = reinterpret_cast<Answers*>(::GetWindowLongPtrW(dlg, DWLP_USER));
    if (LOWORD(wp) == IDOK) {
      ::GetDlgItemTextW(dlg, kIdName, answers->name, 256);
      ::GetDlgItemTextW(dlg, kIdAccount, answers->account, 256);
      if (!answers->name[0]) return TRUE;  // a name is required; the dialog stays
    }
    ::EndDialog(dlg, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

class Wizard final : public ComObject<Wizard, IDsAdminCreateObj> {
 public:
  ~Wizard() {
    if (container_) container_->Release();
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    const bool known = iid == IID_IUnknown || iid == IID_IDsAdminCreateObj;
    return Answer(known ? static_cast<IDsAdminCreateObj*>(this) : nullptr, out);
  }
  STDMETHODIMP Initialize(IADsContainer* container, IADs* copyFrom, LPCWSTR className) override {
    if (!container || !className) return E_INVALIDARG;
    const std::wstring cls = className;
    // The wizard knows these classes only; copying an object is not offered.
    if (cls != L"user" && cls != L"group" && cls != L"computer") return E_INVALIDARG;
    if (copyFrom) return E_NOTIMPL;
    if (container_) container_->Release();
    container_ = container;
    container_->AddRef();
    class_ = cls;
    return S_OK;
  }
  STDMETHODIMP CreateModal(HWND parent, IADs** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!container_) return E_UNEXPECTED;
    const std::wstring title = L"New Object - " + class_;
    DialogTemplate dialog = WizardTemplate(title.c_str());
    Answers answers;
    const INT_PTR pressed = ::DialogBoxIndirectParamW(ModuleInstance(), reinterpret_cast<DLGTEMPLATE*>(dialog.data()),
                                                      parent, WizardProc, reinterpret_cast<LPARAM>(&answers));
    if (pressed == -1) return HRESULT_FROM_WIN32(::GetLastError());
    if (pressed != IDOK) return S_FALSE;
    BSTR cls = ::SysAllocString(class_.c_str());
    BSTR rdn = ::SysAllocString((L"CN=" + std::wstring(answers.name)).c_str());
    IDispatch* disp = nullptr;
    HRESULT hr = container_->Create(cls, rdn, &disp);
    IADs* created = nullptr;
    if (SUCCEEDED(hr)) hr = disp->QueryInterface(IID_IADs, reinterpret_cast<void**>(&created));
    if (disp) disp->Release();
    if (SUCCEEDED(hr) && answers.account[0]) {
      VARIANT v;
      v.vt = VT_BSTR;
      v.bstrVal = ::SysAllocString(answers.account);
      BSTR attr = ::SysAllocString(L"sAMAccountName");
      hr = created->Put(attr, v);
      ::SysFreeString(attr);
      ::VariantClear(&v);
    }
    if (SUCCEEDED(hr)) hr = created->SetInfo();
    ::SysFreeString(cls);
    ::SysFreeString(rdn);
    if (FAILED(hr)) {
      if (created) created->Release();
      return hr;
    }
    *out = created;
    return S_OK;
  }

 private:
  IADsContainer* container_ = nullptr;
  std::wstring class_;
};

}  // namespace

const wchar_t kModuleName[] = L"quorvel_dsadmin";

HRESULT GetModuleClassFactory(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != CLSID_DsAdminCreateObj) return CLASS_E_CLASSNOTAVAILABLE;
  return GetFactory<Wizard>(iid, out);
}

}  // namespace quorvel::standins
