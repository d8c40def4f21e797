#include "common/variant.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kestrel {

namespace {

VARIANT EmptyRaw() noexcept {
  VARIANT raw;
  std::memset(&raw, 0, sizeof(raw));
  return raw;
}

const OLECHAR kNoText[1] = {0};

// The base types a VARIANT may hold.
bool IsOleType(VARTYPE base) noexcept {
  switch (base) {
  case VT_EMPTY:
  case VT_NULL:
  case VT_I2:
  case VT_I4:
  case VT_R4:
  case VT_R8:
  case VT_CY:
  case VT_DATE:
  case VT_BSTR:
  case VT_DISPATCH:
  case VT_ERROR:
  case VT_BOOL:
  case VT_VARIANT:
  case VT_UNKNOWN:
  case VT_DECIMAL:
  case VT_I1:
  case VT_UI1:
  case VT_UI2:
  case VT_UI4:
  case VT_I8:
  case VT_UI8:
  case VT_INT:
  case VT_UINT:
    return true;
  default:
    return false;
  }
}

std::size_t ScalarSize(VARTYPE base) noexcept {
  switch (base) {
  case VT_I1:
  case VT_UI1:
    return 1;
  case VT_I2:
  case VT_UI2:
  case VT_BOOL:
    return 2;
  case VT_I8:
  case VT_UI8:
  case VT_R8:
  case VT_CY:
  case VT_DATE:
    return 8;
  case VT_EMPTY:
  case VT_NULL:
    return 0;
  default:
    return 4;
  }
}

// Whether a value of this type holds only its own bytes: no string, array, interface or record.
bool OwnsNothing(VARTYPE vt) noexcept {
  switch (vt) {
  case VT_EMPTY:
  case VT_NULL:
  case VT_I1:
  case VT_I2:
  case VT_I4:
  case VT_I8:
  case VT_UI1:
  case VT_UI2:
  case VT_UI4:
  case VT_UI8:
  case VT_INT:
  case VT_UINT:
  case VT_R4:
  case VT_R8:
  case VT_CY:
  case VT_DATE:
  case VT_BOOL:
  case VT_ERROR:
  case VT_DECIMAL:
    return true;
  default:
    return false;
  }
}

platform::WideStringView TextOf(const VARIANT& raw) noexcept {
  return raw.bstrVal ? platform::WideStringView(raw.bstrVal, SysStringLen(raw.bstrVal))
                     : platform::WideStringView(kNoText, 0);
}

BSTR AllocWide(platform::WideStringView wide) {
  BSTR text = SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
  if (!text)
    throw std::bad_alloc();
  return text;
}

// 8-bit text as a BSTR. ASCII is the same in every ANSI code page, so the text is widened
// straight into the string, noting on the way whether any byte was not ASCII (one pass with no
// early exit, which the compiler does many bytes at a time); only then is it converted again
// through the code page.
BSTR AllocAnsi(std::string_view ansi) {
  BSTR text = SysAllocStringLen(nullptr, static_cast<uint32_t>(ansi.size()));
  if (!text)
    throw std::bad_alloc();
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(ansi.data());
  unsigned char seen = 0;
  for (std::size_t i = 0; i < ansi.size(); ++i) {
    seen |= bytes[i];
    text[i] = static_cast<OLECHAR>(bytes[i]);
  }
  if (seen & 0x80) {
    // A single-byte code page gives as many characters as bytes: they fit the string made.
    const platform::WideString wide = platform::AnsiToWide(ansi);
    if (wide.size() == ansi.size()) {
      std::copy(wide.begin(), wide.end(), text);
      return text;
    }
    SysFreeString(text);
    return AllocWide(wide);
  }
  return text;
}

} // namespace

Variant::Variant() noexcept : value_(EmptyRaw()) {}

Variant::Variant(const Variant& other) : Variant(other.value_) {}

Variant::Variant(Variant&& other) noexcept : value_(other.value_) {
  other.value_ = EmptyRaw();
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Clear();
    value_ = other.value_;
    other.value_ = EmptyRaw();
  }
  return *this;
}

Variant::~Variant() {
  Clear();
}

Variant::Variant(const VARIANT& raw) : value_(EmptyRaw()) {
  const VARTYPE base = raw.vt & VT_TYPEMASK;
  if ((raw.vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0 || !IsOleType(base))
    throw std::runtime_error("Variant type " + std::to_string(raw.vt) + " is not supported");
  if (raw.vt & VT_BYREF) {
    // A reference into the caller's memory is not kept: the value it points to is copied.
    if (!raw.byref)
      throw std::runtime_error("Variant reference is null");
    VARIANT target = EmptyRaw();
    if (raw.vt == (VT_BYREF | VT_VARIANT)) {
      *this = Variant(*static_cast<const VARIANT*>(raw.byref));
      return;
    }
    target.vt = raw.vt & ~VT_BYREF;
    if (target.vt & VT_ARRAY)
      target.parray = *static_cast<SAFEARRAY* const*>(raw.byref);
    else if (base == VT_BSTR)
      target.bstrVal = *static_cast<const BSTR*>(raw.byref);
    else if (base == VT_UNKNOWN || base == VT_DISPATCH)
      target.punkVal = *static_cast<IUnknown* const*>(raw.byref);
    else if (base == VT_DECIMAL)
      std::memcpy(&target.decVal, raw.byref, sizeof(DECIMAL));
    else
      std::memcpy(&target.llVal, raw.byref, ScalarSize(base));
    *this = Variant(target);
    return;
  }
  // Windows declares the source without const; it is only read.
  const HRESULT hr = VariantCopy(&value_, const_cast<VARIANT*>(&raw));
  if (hr != S_OK) {
    value_ = EmptyRaw();
    throw std::runtime_error("Variant type " + std::to_string(raw.vt) + " cannot be copied");
  }
}

Variant::Variant(bool value) noexcept : value_(EmptyRaw()) {
  value_.vt = VT_BOOL;
  value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant::Variant(int32_t value) noexcept : value_(EmptyRaw()) {
  value_.vt = VT_I4;
  value_.lVal = value;
}

Variant::Variant(int64_t value) noexcept : value_(EmptyRaw()) {
  value_.vt = VT_I8;
  value_.llVal = value;
}

Variant::Variant(double value) noexcept : value_(EmptyRaw()) {
  value_.vt = VT_R8;
  value_.dblVal = value;
}

Variant::Variant(const char* ansi) : Variant(std::string_view(ansi ? ansi : "")) {}

Variant::Variant(const std::string& ansi) : Variant(std::string_view(ansi)) {}

Variant::Variant(std::string_view ansi) : value_(EmptyRaw()) {
  value_.bstrVal = AllocAnsi(ansi);
  value_.vt = VT_BSTR;
}

Variant::Variant(platform::WideStringView wide) : value_(EmptyRaw()) {
  value_.bstrVal = AllocWide(wide);
  value_.vt = VT_BSTR;
}

Variant Variant::Null() noexcept {
  Variant v;
  v.value_.vt = VT_NULL;
  return v;
}

Variant Variant::Int8(int8_t value) noexcept {
  Variant v;
  v.value_.vt = VT_I1;
  v.value_.cVal = value;
  return v;
}

Variant Variant::Int16(int16_t value) noexcept {
  Variant v;
  v.value_.vt = VT_I2;
  v.value_.iVal = value;
  return v;
}

Variant Variant::UInt8(uint8_t value) noexcept {
  Variant v;
  v.value_.vt = VT_UI1;
  v.value_.bVal = value;
  return v;
}

Variant Variant::UInt16(uint16_t value) noexcept {
  Variant v;
  v.value_.vt = VT_UI2;
  v.value_.uiVal = value;
  return v;
}

Variant Variant::UInt32(uint32_t value) noexcept {
  Variant v;
  v.value_.vt = VT_UI4;
  v.value_.ulVal = value;
  return v;
}

Variant Variant::Single(float value) noexcept {
  Variant v;
  v.value_.vt = VT_R4;
  v.value_.fltVal = value;
  return v;
}

Variant Variant::DateTime(double days) noexcept {
  Variant v;
  v.value_.vt = VT_DATE;
  v.value_.date = days;
  return v;
}

Variant Variant::Currency(int64_t scaled) noexcept {
  Variant v;
  v.value_.vt = VT_CY;
  v.value_.cyVal.int64 = scaled;
  return v;
}

Variant Variant::Adopt(VARIANT& raw) noexcept {
  Variant v;
  v.value_ = raw;
  raw = EmptyRaw();
  return v;
}

void Variant::CopyTo(VARIANT* target) const {
  const HRESULT hr = VariantCopy(target, const_cast<VARIANT*>(&value_));
  if (hr != S_OK)
    throw std::runtime_error("Variant type " + std::to_string(value_.vt) + " cannot be copied");
}

VARIANT Variant::Detach() noexcept {
  VARIANT raw = value_;
  value_ = EmptyRaw();
  return raw;
}

void Variant::Clear() noexcept {
  // Most values of a row are numbers, dates or booleans: they own nothing, so there is nothing
  // for the system to free.
  if (!OwnsNothing(value_.vt))
    VariantClear(&value_);
  value_ = EmptyRaw();
}

bool operator==(const Variant& a, const Variant& b) {
  const VARIANT& x = a.Raw();
  const VARIANT& y = b.Raw();
  if (x.vt != y.vt)
    return false;
  switch (x.vt) {
  case VT_EMPTY:
  case VT_NULL:
    return true;
  case VT_BSTR:
    return TextOf(x) == TextOf(y);
  case VT_I1:
  case VT_UI1:
    return x.bVal == y.bVal;
  case VT_I2:
  case VT_UI2:
  case VT_BOOL:
    return x.uiVal == y.uiVal;
  case VT_I4:
  case VT_UI4:
  case VT_INT:
  case VT_UINT:
  case VT_ERROR:
    return x.ulVal == y.ulVal;
  case VT_R4:
    return x.fltVal == y.fltVal;
  case VT_R8:
  case VT_DATE:
    return x.dblVal == y.dblVal;
  case VT_I8:
  case VT_UI8:
  case VT_CY:
    return x.llVal == y.llVal;
  default:
    return false;
  }
}

} // namespace kestrel
