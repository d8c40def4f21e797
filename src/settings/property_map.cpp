#include "settings/property_map.h"

namespace kestrel::settings {

namespace {

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

} // namespace

std::string TPropertyMapEntry::PropertyName() const {
  std::string name = PropertyPath;
  for (char& c : name)
    if (c == '.')
      c = '_';
  return name;
}

std::optional<TPropertyMapEntry> ParsePropertyMapLine(std::string_view line) {
  line = TrimSpaces(line);
  if (line.empty() || line.front() == ';')
    return std::nullopt;
  std::size_t separator = line.find(',');
  if (separator == std::string_view::npos)
    separator = line.find(';');
  std::string_view path = line;
  std::string_view spec;
  if (separator != std::string_view::npos) {
    path = line.substr(0, separator);
    spec = line.substr(separator + 1);
    if (const std::size_t comment = spec.find(';'); comment != std::string_view::npos)
      spec = spec.substr(0, comment);
  }
  path = TrimSpaces(path);
  spec = TrimSpaces(spec);
  if (path.empty() || spec.empty())
    return std::nullopt;

  // Doubled backslashes collapse to one, a leading one is dropped, and the last one separates
  // the sub-key from the value name.
  std::string normalized;
  for (const char c : spec)
    if (c != '\\' || normalized.empty() || normalized.back() != '\\')
      normalized += c;
  if (!normalized.empty() && normalized.front() == '\\')
    normalized.erase(0, 1);

  TPropertyMapEntry entry;
  entry.PropertyPath = std::string(path);
  if (const std::size_t last = normalized.rfind('\\'); last != std::string::npos) {
    entry.SubKey = normalized.substr(0, last);
    entry.ValueName = normalized.substr(last + 1);
  } else {
    entry.ValueName = std::move(normalized);
  }
  if (entry.ValueName.empty())
    return std::nullopt;
  return entry;
}

} // namespace kestrel::settings
