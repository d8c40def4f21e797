// The property map: which published property of a settings object is stored under which key.
// One line per entry, "Control.Property,Sub\Key\Value name"; blank lines and lines starting
// with ";" are ignored. The separator is the first ",", else the first ";"; a ";" inside the
// value spec starts a trailing comment.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::settings {

struct TPropertyMapEntry {
  std::string PropertyPath; // "BegSign.Text"
  std::string SubKey;       // "Translation", or empty
  std::string ValueName;    // "Map0"

  // The published property name: the path with every "." replaced by "_".
  std::string PropertyName() const;
};

// The entry of one map line; nothing for a blank line, a comment, or a line without a
// property path or without a value spec.
std::optional<TPropertyMapEntry> ParsePropertyMapLine(std::string_view line);

} // namespace kestrel::settings
