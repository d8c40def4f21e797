// Whole small files: existence, reading in one piece, and replacement in one step. Paths are
// 8-bit text in the ANSI code page, as the host gives them.
#pragma once

#include "platform/system.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::platform {

// True when `path` names an existing file (not a folder).
KESTREL_PLATFORM_EXPORT bool FileExists(std::string_view path);

// What a path names, links followed: nothing, a regular file, or something else (a folder, a
// FIFO, a device).
enum class PathKind : uint8_t { Missing, RegularFile, Other };
KESTREL_PLATFORM_EXPORT PathKind GetPathKind(std::string_view path);

// Reads the whole file into `contents`. False when it does not exist, cannot be read, or is not
// a regular file (refused unread, so that a FIFO never holds the caller up); `error`, when
// given, then says why, and is left empty when the file does not exist.
KESTREL_PLATFORM_EXPORT bool ReadWholeFile(std::string_view path, std::string* contents,
                                           std::string* error = nullptr);

// Replaces the contents of the file `path` finally names (symbolic links followed) in one step:
// the bytes go to a temporary file beside it, which takes the file's permissions (and owner,
// where the process may set it), is flushed and then takes the file's place. A crash or a full
// disk therefore leaves the old file or the new one, never a truncated one. A file that is not
// a regular file, or that is read-only (for this user, or for everyone), is not replaced. On
// failure the old file is as it was, the temporary file is removed and `error` (when given)
// says what failed.
KESTREL_PLATFORM_EXPORT bool ReplaceFileContents(std::string_view path, std::string_view contents,
                                                 std::string* error = nullptr);

// Tests: while set, ReplaceFileContents writes its temporary file and then fails as if the
// rename had failed.
KESTREL_PLATFORM_EXPORT void FailFileReplacementForTesting(bool fail);
// Whether the switch above is set (for the backends).
bool FileReplacementFailsForTesting();

} // namespace kestrel::platform
