#include "propsheet/ad_object_property_wnd.h"

namespace quorvel {

CADObjectPropertyWnd::CADObjectPropertyWnd(HINSTANCE, HWND) {}
HRESULT CADObjectPropertyWnd::SetObject(const wchar_t*) { return E_NOTIMPL; }
void CADObjectPropertyWnd::Run() { changed_ = 0; }
HRESULT CADObjectPropertyWnd::QueryInterface(REFIID, void** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return E_NOINTERFACE;
}
ULONG CADObjectPropertyWnd::AddRef() { return static_cast<ULONG>(++refs_); }
ULONG CADObjectPropertyWnd::Release() {
  const LONG left = --refs_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

}  // namespace quorvel
