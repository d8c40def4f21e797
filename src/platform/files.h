// Whole small files: existence, reading in one piece, and replacement in one step. Paths are
// 8-bit text in the ANSI code page, as the host gives them.
#pragma once

#include "platform/system.h"

#include <string>
#include <string_view>

namespace kestrel::platform {

// True when `path` names an existing file (not a folder).
KESTREL_PLATFORM_EXPORT bool FileExists(std::string_view path);

// Reads the whole file into `contents`; false when it cannot be opened or read.
KESTREL_PLATFORM_EXPORT bool ReadWholeFile(std::string_view path, std::string* contents);

// Replaces the file's contents in one step: the bytes go to a temporary file in the same
// folder, which is flushed and then renamed over `path`. A crash or a full disk therefore
// leaves the old file or the new one, never a truncated one. On failure the old file is as it
// was, the temporary file is removed and `error` (when given) says what failed.
KESTREL_PLATFORM_EXPORT bool ReplaceFileContents(std::string_view path, std::string_view contents,
                                                 std::string* error = nullptr);

// Tests: while set, ReplaceFileContents writes its temporary file and then fails as if the
// rename had failed.
KESTREL_PLATFORM_EXPORT void FailFileReplacementForTesting(bool fail);
// Whether the switch above is set (for the backends).
bool FileReplacementFailsForTesting();

} // namespace kestrel::platform
