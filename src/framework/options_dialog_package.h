// The options-dialog package GetOptionsDialog hands the host: the form definition, an extra
// text and the compressed script package, read from the library's resources and packed behind
// a header of six 32-bit little-endian numbers (offset and length of each block).
#pragma once

#include "framework/orv_plugin_module.h"

#include <kestrel/kestrel.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::options_dialog {

// Resource names of the package.
inline constexpr std::string_view kFormDataResource = "FORM_DATA"; // script package, gzip
inline constexpr std::string_view kFormNameResource = "FORM_NAME"; // name of the form resource
inline constexpr std::string_view kCodeSuffix = "_CODE"; // script package of a form asked by name
inline constexpr uint32_t kPackageHeaderSize = 24;

// GetOptionsDialog's outcomes in ResultDesc.Payload besides the bytes written.
inline constexpr uintptr_t kDialogNoInstance = 1;
inline constexpr uintptr_t kDialogNothingToDeliver = 2;
inline constexpr uintptr_t kDialogBufferTooSmall = 3;

// Looks a resource up by name (compared without regard to case); nothing when it is missing.
using TResourceFinder = std::function<std::optional<std::string_view>(std::string_view name)>;

// The three blocks of a package.
struct TOptionsDialogBlocks {
  std::string_view Form;
  std::string Extra;
  std::string_view Code;
  // 24 + the three lengths, or nothing when it does not fit in 32 bits.
  std::optional<uint32_t> PackedSize() const;
};

// The blocks of the form `form_name` (upper-cased): the form from the resource of that name,
// the script package from the name + "_CODE". Without a name: the script package from
// "FORM_DATA" and the form from the resource "FORM_NAME" names. Missing resources give empty
// blocks.
TOptionsDialogBlocks SelectBlocks(const TResourceFinder& find, std::string_view form_name);

// Writes header and blocks to `out`, which holds at least PackedSize() bytes.
void WritePackage(const TOptionsDialogBlocks& blocks, uint8_t* out);

// GetOptionsDialog for a found instance (ResultDesc already says "no instance"): reads the
// requested form name from the DataDesc buffer, asks the module's OnGetOptionsDialog when no
// name was requested and the event is assigned, and delivers the package or the reason why
// not into the record.
void DeliverOptionsDialog(TorvPlugin& module, TPluginCallRec* rec, const TResourceFinder& find);

// The same with the resources of the library this code is linked into; the dialog source the
// library registers with the framework.
void DeliverLibraryOptionsDialog(TorvPlugin& module, TPluginCallRec* rec);

} // namespace kestrel::options_dialog
