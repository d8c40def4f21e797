// An owning OLE VARIANT: the value type of parameter lists, JSON documents and conversions.
// Strings are always held as BSTR (UTF-16); 8-bit text is converted from the ANSI code page
// when a value is built from it.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

class Variant {
public:
  Variant() noexcept; // Empty
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  // A deep copy of a raw VARIANT. A reference (VT_BYREF) is resolved to the value it points
  // to, so nothing keeps pointing into the caller's memory. Throws std::runtime_error for a
  // type that is not an OLE variant type or cannot be copied.
  explicit Variant(const VARIANT& raw);

  Variant(bool value) noexcept;
  Variant(int32_t value) noexcept;
  Variant(int64_t value) noexcept;
  Variant(double value) noexcept;
  // 8-bit text in the ANSI code page, stored as a BSTR.
  Variant(const char* ansi);
  Variant(std::string_view ansi);
  Variant(const std::string& ansi);
  // UTF-16 text, stored as a BSTR.
  Variant(platform::WideStringView wide);

  static Variant Null() noexcept;
  static Variant Int8(int8_t value) noexcept;
  static Variant Int16(int16_t value) noexcept;
  static Variant UInt8(uint8_t value) noexcept;
  static Variant UInt16(uint16_t value) noexcept;
  static Variant UInt32(uint32_t value) noexcept;
  static Variant Single(float value) noexcept;
  // Days since 30 December 1899, time as the fraction.
  static Variant DateTime(double days) noexcept;
  // Currency as its scaled 64-bit integer (value * 10000).
  static Variant Currency(int64_t scaled) noexcept;
  // Takes ownership of a raw VARIANT; the source is left Empty.
  static Variant Adopt(VARIANT& raw) noexcept;

  VARTYPE Type() const noexcept { return value_.vt; }
  bool IsEmpty() const noexcept { return value_.vt == VT_EMPTY; }
  bool IsNull() const noexcept { return value_.vt == VT_NULL; }
  bool IsEmptyOrNull() const noexcept { return IsEmpty() || IsNull(); }
  bool IsString() const noexcept { return value_.vt == VT_BSTR; }

  const VARIANT& Raw() const noexcept { return value_; }
  // Copies the value into `target`, which must hold a valid (possibly Empty) VARIANT.
  void CopyTo(VARIANT* target) const;
  // Gives up the value; this object becomes Empty and the caller clears the result.
  VARIANT Detach() noexcept;
  void Clear() noexcept;

private:
  VARIANT value_;
};

// True when both hold the same type and an equal value (strings by content, arrays never).
bool operator==(const Variant& a, const Variant& b);

} // namespace kestrel
