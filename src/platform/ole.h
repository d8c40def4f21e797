// OLE automation values (VARIANT, BSTR, SAFEARRAY) for the core: oleaut32's on Windows,
// libkestrel_platform's binary-identical implementation elsewhere.
//
// The core sees the declarations of kestrel/oleauto.h; the Win32 backend, which includes
// <windows.h> first, sees the system's. The checks below hold for both, so the two agree on
// every layout and on the types that make up the names of C++ functions taking them.
#pragma once

#include <kestrel/oleauto.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace kestrel::platform {

// UTF-16 text in the character type of the OLE functions (wchar_t on Windows, char16_t
// elsewhere).
using WideString = std::basic_string<OLECHAR>;
using WideStringView = std::basic_string_view<OLECHAR>;

namespace ole_layout {

constexpr std::size_t kPointer = sizeof(void*);

static_assert(sizeof(OLECHAR) == 2 && sizeof(LONG) == 4 && sizeof(ULONG) == 4 &&
              sizeof(HRESULT) == 4 && sizeof(VARTYPE) == 2 && sizeof(VARIANT_BOOL) == 2);
static_assert(std::is_same_v<BSTR, OLECHAR*>);
static_assert(std::is_same_v<VARIANT, tagVARIANT> && std::is_same_v<SAFEARRAY, tagSAFEARRAY> &&
              std::is_same_v<SAFEARRAYBOUND, tagSAFEARRAYBOUND> &&
              std::is_same_v<DECIMAL, tagDEC> && std::is_same_v<CY, tagCY>);
static_assert(sizeof(VARIANT) == 8 + 2 * kPointer && offsetof(VARIANT, vt) == 0 &&
              offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, llVal) == 8 &&
              offsetof(VARIANT, bstrVal) == 8 && offsetof(VARIANT, parray) == 8 &&
              offsetof(VARIANT, decVal) == 0);
static_assert(sizeof(DECIMAL) == 16 && offsetof(DECIMAL, scale) == 2 &&
              offsetof(DECIMAL, sign) == 3 && offsetof(DECIMAL, Hi32) == 4 &&
              offsetof(DECIMAL, Lo64) == 8);
static_assert(sizeof(CY) == 8 && sizeof(SAFEARRAYBOUND) == 8);
static_assert(offsetof(SAFEARRAY, cDims) == 0 && offsetof(SAFEARRAY, fFeatures) == 2 &&
              offsetof(SAFEARRAY, cbElements) == 4 && offsetof(SAFEARRAY, cLocks) == 8 &&
              offsetof(SAFEARRAY, pvData) == (kPointer == 4 ? 12 : 16) &&
              offsetof(SAFEARRAY, rgsabound) == (kPointer == 4 ? 16 : 24));

} // namespace ole_layout

} // namespace kestrel::platform
