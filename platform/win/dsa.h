// What the cross toolchain's SDK headers lack for directory property sheets, in
// the 64-bit layouts, checked against the portable byte layout.
#pragma once

#include "platform/ds_layout.h"
#include "platform/wintypes.h"

#include <objbase.h>
#include <ole2.h>
#include <adsprop.h>
#include <dsclient.h>
#include <prsht.h>

#include <cstddef>
#include <cwchar>

namespace quorvel {

struct PROPSHEETCFG {
  LONG_PTR lNotifyHandle;
  HWND hwndParentSheet;
  HWND hwndHidden;
  WPARAM wParamSheetClose;
};

struct DSA_SEC_PAGE_INFO {
  HWND hwndParentSheet;
  DWORD offsetTitle;
  DSOBJECTNAMES dsObjectNames;
};

inline constexpr UINT WM_DSA_SHEET_CLOSE_NOTIFY = WM_USER + 5;
inline constexpr UINT WM_DSA_SHEET_CREATE_NOTIFY = WM_USER + 6;
inline constexpr wchar_t CFSTR_DS_PROPSHEETCONFIG[] = L"DsPropSheetCfgClipFormat";

static_assert(WM_DSA_SHEET_CLOSE_NOTIFY == 1029 && WM_DSA_SHEET_CLOSE_NOTIFY == ds::kSheetCloseNotify);
static_assert(WM_DSA_SHEET_CREATE_NOTIFY == 1030 && WM_DSA_SHEET_CREATE_NOTIFY == ds::kSheetCreateNotify);
static_assert(WM_ADSPROP_NOTIFY_CHANGE == ds::kPropNotifyChange);
static_assert(WM_ADSPROP_NOTIFY_APPLY == ds::kPropNotifyApply);
static_assert(WM_ADSPROP_NOTIFY_EXIT == ds::kPropNotifyExit);

static_assert(sizeof(DSDISPLAYSPECOPTIONS) == ds::kDisplaySpecOptionsSize);
static_assert(offsetof(DSDISPLAYSPECOPTIONS, dwSize) == ds::kDsoDwSize);
static_assert(offsetof(DSDISPLAYSPECOPTIONS, dwFlags) == ds::kDsoFlags);
static_assert(offsetof(DSDISPLAYSPECOPTIONS, offsetAttribPrefix) == ds::kDsoOffsetAttribPrefix);
static_assert(offsetof(DSDISPLAYSPECOPTIONS, offsetUserName) == ds::kDsoOffsetUserName);
static_assert(offsetof(DSDISPLAYSPECOPTIONS, offsetPassword) == ds::kDsoOffsetPassword);
static_assert(offsetof(DSDISPLAYSPECOPTIONS, offsetServer) == ds::kDsoOffsetServer);
static_assert(offsetof(DSDISPLAYSPECOPTIONS, offsetServerConfigPath) == ds::kDsoOffsetServerConfigPath);

static_assert(sizeof(DSOBJECTNAMES) == ds::kObjectNamesOneEntrySize);
static_assert(offsetof(DSOBJECTNAMES, cItems) == ds::kDonItems);
static_assert(offsetof(DSOBJECTNAMES, aObjects) == ds::kDonEntry0);
static_assert(sizeof(DSOBJECT) == ds::kDsObjectSize);
static_assert(offsetof(DSOBJECT, dwProviderFlags) == ds::kDsObjProviderFlags);
static_assert(offsetof(DSOBJECT, offsetName) == ds::kDsObjOffsetName);
static_assert(offsetof(DSOBJECT, offsetClass) == ds::kDsObjOffsetClass);
static_assert(DSPROVIDER_ADVANCED == ds::kDsProviderAdvanced);

static_assert(sizeof(PROPSHEETCFG) == ds::kPropSheetCfgSize);
static_assert(offsetof(PROPSHEETCFG, lNotifyHandle) == ds::kPscNotifyHandle);
static_assert(offsetof(PROPSHEETCFG, hwndParentSheet) == ds::kPscParentSheet);
static_assert(offsetof(PROPSHEETCFG, hwndHidden) == ds::kPscHidden);
static_assert(offsetof(PROPSHEETCFG, wParamSheetClose) == ds::kPscSheetClose);

static_assert(offsetof(DSA_SEC_PAGE_INFO, hwndParentSheet) == ds::kSpiParentSheet);
static_assert(offsetof(DSA_SEC_PAGE_INFO, offsetTitle) == ds::kSpiOffsetTitle);
static_assert(offsetof(DSA_SEC_PAGE_INFO, dsObjectNames) == ds::kSpiObjectNames);
static_assert(offsetof(DSA_SEC_PAGE_INFO, dsObjectNames) + offsetof(DSOBJECTNAMES, aObjects) == ds::kSpiEntry0);
static_assert(offsetof(DSA_SEC_PAGE_INFO, dsObjectNames) + offsetof(DSOBJECTNAMES, aObjects) +
                  offsetof(DSOBJECT, offsetName) == ds::kSpiEntry0OffsetName);
static_assert(sizeof(DSA_SEC_PAGE_INFO) == ds::kSecPageInfoFixedSize);

static_assert(sizeof(PROPSHEETHEADERW) == 96);

}  // namespace quorvel
