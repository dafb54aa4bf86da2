#include "propsheet/secondary_sheet_win.h"

#include "platform/ds_layout.h"
#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"
#include "propsheet/ad_object_property_wnd.h"
#include "propsheet/sec_page_info.h"

#include <cstring>

namespace quorvel {
namespace {

BOOL PlatformVersion(OSVERSIONINFOW* info) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ::GetVersionExW(info);
#pragma GCC diagnostic pop
}
VersionQuery g_versionQuery = PlatformVersion;

}  // namespace

VersionQuery SetVersionQueryForTesting(VersionQuery query) {
  const VersionQuery old = g_versionQuery;
  g_versionQuery = query ? query : PlatformVersion;
  return old;
}

HRESULT AdaptSecPageInfo(HLOCAL received, HLOCAL* out) {
  if (!out) return E_INVALIDARG;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!g_versionQuery(&version)) return E_FAIL;
  if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion < 5) return E_UNEXPECTED;
  if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) {
    const std::size_t size = ::LocalSize(received);
    const auto relaid = RelayoutSecPageInfoFor50(static_cast<const std::uint8_t*>(received), size);
    if (!relaid) return E_INVALIDARG;  // not even the fixed part: nothing to re-lay
    HLOCAL block = ::LocalAlloc(LMEM_ZEROINIT, relaid->size());
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, relaid->data(), relaid->size());
    *out = block;
    ::LocalFree(received);
    return S_OK;
  }
  *out = received;
  return S_OK;
}

void OpenSecondarySheet(CADObjectPropertyWnd* requester, HLOCAL block) {
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  // The block comes from a page: read nothing that does not lie inside it.
  const auto name = LocateSecPageName(bytes, ::LocalSize(block));
  if (!name) return;
  const HWND parent = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(SecPageParentSheet(bytes)));
  // A sheet whose owner is no window is never created, and comctl32 (Wine's at
  // least) then never destroys its pages, which would hold the nested host and
  // its object for good. Such a request opens nothing.
  if (parent && !::IsWindow(parent)) return;
  const auto nested = ComPtr<CADObjectPropertyWnd>(new CADObjectPropertyWnd(requester->Instance(), parent));
  const std::u16string path = SecPagePath(*name);
  nested->SetObject(reinterpret_cast<const wchar_t*>(path.c_str()));  // a failed bind shows nothing
  nested->Run();  // its changed flag is its own: only the first sheet's counts
}

void HandleSecondarySheetRequest(CADObjectPropertyWnd* requester, HLOCAL block) {
  if (!block) return;
  UniqueHLocal owned(block);
  HLOCAL adapted = nullptr;
  if (requester && AdaptSecPageInfo(block, &adapted) == S_OK) {
    // What adapting returns replaces the block: the same one, or a new one after
    // adapting freed the block.
    static_cast<void>(owned.release());
    owned.reset(adapted);
    OpenSecondarySheet(requester, owned.get());
  }
}

}  // namespace quorvel
