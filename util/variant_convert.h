// Conversion of automation values between types, arrays included. Where the
// platform's own conversion refuses a value, numbers go through text by rules of
// our own.
#pragma once

#include "platform/automation.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel {

// A failure carrying the platform's status, raised where a variant cannot be
// released before it takes a new value.
class HResultError : public std::runtime_error {
 public:
  explicit HResultError(HRESULT hr) : std::runtime_error("HRESULT failure"), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// A heap variant owned by an element list; released (VariantClear) when it goes.
struct VariantDeleter {
  void operator()(VARIANT* value) const;
};
using OwnedVariant = std::unique_ptr<VARIANT, VariantDeleter>;
OwnedVariant MakeOwnedVariant();  // VT_EMPTY

// One entry an array element, in index order. A null entry is an element that
// could not be read.
using VariantList = std::vector<OwnedVariant>;

constexpr HRESULT kNotEnoughMemory = static_cast<HRESULT>(0x80070008);
constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80070032);

// Converts `value` in place to `request`, which may carry VT_ARRAY. On failure
// `value` is left as it was.
HRESULT ChangeVariantType(VARIANT& value, VARTYPE request);

// Copies of every element of a one-dimensional array, or of the array that a
// by-reference array value names. `read_status`, when given,
// receives each element's read status (a null entry has a failing one).
HRESULT SafeArrayToVariantList(const VARIANT& array_value, VariantList& list,
                               std::vector<HRESULT>* read_status = nullptr);
// A new array of the list's values, element type that of the first entry. The list
// must not be empty (std::invalid_argument).
HRESULT VariantListToSafeArray(VARIANT& out, const VariantList& list);

// The lower bound and element count of a one-dimensional array. Bounds whose
// arithmetic wraps round (an empty array at the lowest bound reports the highest
// upper bound) are read from the element count; an array whose elements one index
// cannot all reach, or of more than one dimension, gives E_INVALIDARG.
HRESULT GetArrayRange(SAFEARRAY* array, LONG& lower, std::size_t& count);

// One element, read by the array's element type, into `out` (VT_EMPTY on entry).
// An array of more than one dimension gives E_INVALIDARG: one index cannot name
// its elements.
HRESULT GetArrayElement(SAFEARRAY* array, LONG index, VARIANT& out);
// Stores `element` by the array's element type: a value of another type is
// converted to it first, and one that does not convert leaves the slot as it
// was, as does an array of more than one dimension.
void PutArrayElement(SAFEARRAY* array, LONG index, const VARIANT& element);

// The five-significant-digit text of a double, e.g. 1.2346e+005.
std::string FormatR8Text(double value);
// Decimal digits only; any other character gives 0.
std::uint64_t ParseUI8Text(const std::u16string& text);

}  // namespace quorvel
