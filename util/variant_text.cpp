#include "util/variant_text.h"

#include "platform/automation_owners.h"
#include "util/variant_convert.h"

namespace quorvel {

std::u16string BstrText(BSTR text) {
  if (!text) return {};
  const auto* units = reinterpret_cast<const char16_t*>(text);
  const UINT length = SysStringLen(text);
  std::u16string out;
  for (UINT i = 0; i < length && units[i] != 0; ++i) out += units[i];
  return out;
}

HRESULT SafeArrayToTextList(SAFEARRAY* array, std::vector<std::u16string>& list) {
  list.clear();
  LONG lower = 0;
  std::size_t count = 0;
  HRESULT hr = GetArrayRange(array, lower, count);
  if (FAILED(hr) || count == 0) return hr;
  list.assign(count, std::u16string());
  UniqueVariant work;
  for (std::size_t position = 0; position < count; ++position) {
    hr = GetArrayElement(array, static_cast<LONG>(lower + static_cast<LONGLONG>(position)), *work.put());
    if (SUCCEEDED(hr) && V_VT(work.get()) != VT_BSTR) hr = VariantChangeType(work.get(), work.get(), 0, VT_BSTR);
    if (SUCCEEDED(hr)) list[position] = BstrText(V_BSTR(work.get()));
  }
  return hr;
}

std::u16string VariantToText(const VARIANT& value) {
  if (V_VT(&value) & VT_ARRAY) {
    // A by-reference array holds the address of the array it names.
    SAFEARRAY* array = V_ARRAY(&value);
    if (V_VT(&value) & VT_BYREF) array = V_ARRAYREF(&value) ? *V_ARRAYREF(&value) : nullptr;
    if (!array) return {};
    std::vector<std::u16string> list;
    if (FAILED(SafeArrayToTextList(array, list))) return {};
    std::u16string text = u"{";
    for (const auto& entry : list) {
      text += u'\'';
      text += entry;
      text += u"', ";
    }
    if (text.size() > 4) text.resize(text.size() - 2);
    text += u'}';
    return text;
  }

  UniqueVariant work;
  HRESULT hr = VariantChangeType(work.get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR);
  if (SUCCEEDED(hr)) return BstrText(V_BSTR(work.get()));
  if (hr != DISP_E_BADVARTYPE) return {};
  // A copy through VariantCopy refuses the same type: take the bits as they stand.
  // The copy borrows what the input owns until a conversion gives it a value of
  // its own.
  work.reset(value);
  hr = ChangeVariantType(*work.get(), VT_BSTR);
  if (FAILED(hr)) {
    static_cast<void>(work.release());  // still the input's value: forget it, release nothing
    return {};
  }
  return BstrText(V_BSTR(work.get()));
}

}  // namespace quorvel
