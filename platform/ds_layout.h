// Byte layout of the directory property sheet structures on the 64-bit platform,
// for code that renders or reads them without the SDK. platform/win/dsa.h checks
// every value here against the SDK's own structures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel::ds {

// DSDISPLAYSPECOPTIONS: seven 32-bit fields.
inline constexpr std::size_t kDisplaySpecOptionsSize = 28;
inline constexpr std::size_t kDsoDwSize = 0;
inline constexpr std::size_t kDsoFlags = 4;
inline constexpr std::size_t kDsoOffsetAttribPrefix = 8;
inline constexpr std::size_t kDsoOffsetUserName = 12;
inline constexpr std::size_t kDsoOffsetPassword = 16;
inline constexpr std::size_t kDsoOffsetServer = 20;
inline constexpr std::size_t kDsoOffsetServerConfigPath = 24;

// DSOBJECTNAMES with exactly one DSOBJECT entry.
inline constexpr std::size_t kObjectNamesOneEntrySize = 36;
inline constexpr std::size_t kDonItems = 16;
inline constexpr std::size_t kDonEntry0 = 20;
inline constexpr std::size_t kDsObjectSize = 16;
inline constexpr std::size_t kDsObjProviderFlags = 4;
inline constexpr std::size_t kDsObjOffsetName = 8;
inline constexpr std::size_t kDsObjOffsetClass = 12;
inline constexpr std::uint32_t kDsProviderAdvanced = 0x00000010;

// PROPSHEETCFG.
inline constexpr std::size_t kPropSheetCfgSize = 32;
inline constexpr std::size_t kPscNotifyHandle = 0;
inline constexpr std::size_t kPscParentSheet = 8;
inline constexpr std::size_t kPscHidden = 16;
inline constexpr std::size_t kPscSheetClose = 24;
inline constexpr std::uint64_t kSheetCloseValue = 0xCDCDCDCD;

// DSA_SEC_PAGE_INFO: a window handle, the title offset, then a one-entry DSOBJECTNAMES
// at 4-byte alignment. The object's name is counted from the start of entry 0.
inline constexpr std::size_t kSecPageInfoFixedSize = 48;
inline constexpr std::size_t kSpiParentSheet = 0;
inline constexpr std::size_t kSpiOffsetTitle = 8;
inline constexpr std::size_t kSpiObjectNames = 12;
inline constexpr std::size_t kSpiEntry0 = kSpiObjectNames + kDonEntry0;                 // 32
inline constexpr std::size_t kSpiEntry0OffsetName = kSpiEntry0 + kDsObjOffsetName;      // 40
// A Windows 5.0 page sends the same without the window handle in front:
// offsetTitle, then the DSOBJECTNAMES.
inline constexpr std::size_t kSecPageInfo50FixedSize = 4 + kObjectNamesOneEntrySize;      // 40

// Window messages of the hidden notification window (WM_USER is 0x0400).
inline constexpr std::uint32_t kSheetCloseNotify = 0x0400 + 5;     // WM_DSA_SHEET_CLOSE_NOTIFY
inline constexpr std::uint32_t kSheetCreateNotify = 0x0400 + 6;    // WM_DSA_SHEET_CREATE_NOTIFY
inline constexpr std::uint32_t kPropNotifyChange = 0x0400 + 1103;  // WM_ADSPROP_NOTIFY_CHANGE
inline constexpr std::uint32_t kPropNotifyApply = 0x0400 + 1104;   // WM_ADSPROP_NOTIFY_APPLY
inline constexpr std::uint32_t kPropNotifyExit = 0x0400 + 1107;    // WM_ADSPROP_NOTIFY_EXIT

// Clipboard format names the pages ask for.
inline constexpr char16_t kFormatPropSheetCfg[] = u"DsPropSheetCfgClipFormat";
inline constexpr char16_t kFormatObjectNames[] = u"DsObjectNames";
inline constexpr char16_t kFormatDisplaySpecOptions[] = u"DsDisplaySpecOptions";

}  // namespace quorvel::ds
