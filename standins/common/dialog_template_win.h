// Dialogs of the stand-ins, built in memory: a DLGTEMPLATE header with its title
// and font, then the items, each counted in the header as it is added.
#pragma once

#include "platform/wintypes.h"

#include <cstring>
#include <vector>

namespace quorvel::standins {

using DialogTemplate = std::vector<WORD>;

inline void AppendRaw(DialogTemplate& t, const void* p, std::size_t bytes) {
  const std::size_t at = t.size();
  t.resize(at + bytes / 2);
  std::memcpy(t.data() + at, p, bytes);
}

inline void AppendText(DialogTemplate& t, const wchar_t* s) {
  do t.push_back(static_cast<WORD>(*s)); while (*s++);
}

// No menu, the default class, the title, 8-point "MS Shell Dlg"; no items yet.
inline DialogTemplate StartDialog(DWORD style, short cx, short cy, const wchar_t* title) {
  DialogTemplate t;
  const DLGTEMPLATE dlg{DS_SETFONT | style, 0, 0, 0, 0, cx, cy};
  AppendRaw(t, &dlg, sizeof dlg);
  t.push_back(0);
  t.push_back(0);
  AppendText(t, title);
  t.push_back(8);
  AppendText(t, L"MS Shell Dlg");
  return t;
}

// `cls` is the atom of a predefined class: 0x0080 button, 0x0081 edit, 0x0082
// static, 0x0083 list box.
inline void AddItem(DialogTemplate& t, DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls,
                    const wchar_t* text) {
  if (t.size() % 2) t.push_back(0);  // items start on a DWORD
  const DLGITEMTEMPLATE item{WS_CHILD | WS_VISIBLE | style, 0, x, y, cx, cy, id};
  AppendRaw(t, &item, sizeof item);
  t.push_back(0xFFFF);
  t.push_back(cls);
  AppendText(t, text);
  t.push_back(0);  // no creation data
  ++t[4];          // the header's item count, at byte 8
}

}  // namespace quorvel::standins
