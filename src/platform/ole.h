// OLE automation values (VARIANT, BSTR, SAFEARRAY) for the core: the system's own on
// Windows, libkestrel_platform's binary-identical implementation elsewhere.
#pragma once

#include <kestrel/oleauto.h>

#include <string>
#include <string_view>

namespace kestrel::platform {

// UTF-16 text in the character type of the OLE functions (wchar_t on Windows, char16_t
// elsewhere).
using WideString = std::basic_string<OLECHAR>;
using WideStringView = std::basic_string_view<OLECHAR>;

} // namespace kestrel::platform
