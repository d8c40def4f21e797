#include "settings/big_ini_file.h"
#include "common/ascii_text.h"

#include "common/text_lines.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kestrel::settings {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return platform::AnsiCompareText(a, b) == 0;
}

// The name of an entry line, or nothing when the line has no "=".
bool EntryName(std::string_view line, std::string_view* name) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos)
    return false;
  *name = TrimBlanks(line.substr(0, equals));
  return true;
}

// Why `text` is not an 8-bit INI file, or nothing when it is one. UTF-16 text and binary data
// hold NUL bytes, which no 8-bit text file does.
std::string NotIniText(std::string_view text) {
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"))
    return "it is UTF-16 text, not an 8-bit INI file";
  if (text.find('\0') != std::string_view::npos)
    return "it holds NUL bytes (UTF-16 text or binary data), not an 8-bit INI file";
  return {};
}

} // namespace

TBigIniFile::TBigIniFile(std::string file_name) : file_name_(std::move(file_name)) {
  std::string text;
  file_found_ = platform::ReadWholeFile(file_name_, &text, &problem_);
  if (!file_found_)
    return;
  if (const std::string reason = NotIniText(text); !reason.empty()) {
    problem_ = file_name_ + ": " + reason;
    return;
  }
  std::string_view view = text;
  if (view.substr(0, 3) == "\xEF\xBB\xBF") {
    view.remove_prefix(3);
    byte_order_mark_ = true;
  }
  Section* current = nullptr;
  for (const std::string_view raw : SplitLines(view)) {
    const std::string_view line = TrimBlanks(raw);
    if (line.empty() || line == "\x1A")
      continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view name = TrimBlanks(line.substr(1, line.size() - 2));
      current = FindSection(name);
      if (!current) {
        sections_.push_back(Section{std::string(name), {}});
        current = &sections_.back();
      }
      continue;
    }
    if (current)
      current->Lines.emplace_back(line);
    else
      leading_lines_.emplace_back(line);
  }
}

TBigIniFile::Section* TBigIniFile::FindSection(std::string_view name) {
  for (Section& section : sections_)
    if (SameName(section.Name, name))
      return &section;
  return nullptr;
}

std::vector<std::string> TBigIniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Section& section : sections_)
    names.push_back(section.Name);
  return names;
}

std::vector<std::string> TBigIniFile::EntryNames(std::string_view section_name) const {
  std::vector<std::string> names;
  if (const Section* section = FindSection(section_name))
    for (const std::string& line : section->Lines) {
      std::string_view name;
      if (!line.starts_with(';') && !line.starts_with('#') && EntryName(line, &name))
        names.emplace_back(name);
    }
  return names;
}

const TBigIniFile::Section* TBigIniFile::FindSection(std::string_view name) const {
  return const_cast<TBigIniFile*>(this)->FindSection(name);
}

std::ptrdiff_t TBigIniFile::FindEntry(const Section& section, std::string_view name) {
  for (std::size_t i = 0; i < section.Lines.size(); ++i) {
    std::string_view entry;
    if (EntryName(section.Lines[i], &entry) && SameName(entry, name))
      return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

bool TBigIniFile::ReadString(std::string_view section_name, std::string_view name,
                             std::string* value) const {
  const Section* section = FindSection(section_name);
  if (!section)
    return false;
  const std::ptrdiff_t index = FindEntry(*section, name);
  if (index < 0)
    return false;
  const std::string& line = section->Lines[static_cast<std::size_t>(index)];
  *value = std::string(TrimBlanks(std::string_view(line).substr(line.find('=') + 1)));
  return true;
}

void TBigIniFile::WriteString(std::string_view section_name, std::string_view name,
                              std::string_view value) {
  std::string line = std::string(name) + "=" + std::string(value);
  Section* section = FindSection(section_name);
  if (!section) {
    sections_.push_back(Section{std::string(section_name), {}});
    section = &sections_.back();
  }
  const std::ptrdiff_t index = FindEntry(*section, name);
  if (index < 0) {
    section->Lines.push_back(std::move(line));
    modified_ = true;
    return;
  }
  std::string current;
  ReadString(section_name, name, &current);
  if (current != TrimBlanks(value)) {
    section->Lines[static_cast<std::size_t>(index)] = std::move(line);
    modified_ = true;
  }
}

void TBigIniFile::DeleteKey(std::string_view section_name, std::string_view name) {
  Section* section = FindSection(section_name);
  if (!section)
    return;
  const std::ptrdiff_t index = FindEntry(*section, name);
  if (index < 0)
    return;
  section->Lines.erase(section->Lines.begin() + index);
  modified_ = true;
}

std::string TBigIniFile::Text() const {
  std::string text = byte_order_mark_ ? "\xEF\xBB\xBF" : "";
  for (const std::string& line : leading_lines_)
    text += line + "\r\n";
  // A first line that starts as a byte order mark once its blanks are trimmed would be read
  // back as one: a UTF-16 mark makes the file unreadable as INI text, a UTF-8 mark loses the
  // line's first three bytes. An empty line before it keeps the line as it is.
  if (!byte_order_mark_ && (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
                            text.starts_with("\xEF\xBB\xBF")))
    text.insert(0, "\r\n");
  for (const Section& section : sections_) {
    if (section.Lines.empty())
      continue;
    text += "[" + section.Name + "]\r\n";
    for (const std::string& line : section.Lines)
      text += line + "\r\n";
    text += "\r\n";
  }
  return text;
}

bool TBigIniFile::UpdateFile(std::string* error) {
  if (!modified_)
    return true;
  if (!problem_.empty()) {
    if (error)
      *error = problem_;
    return false;
  }
  if (!platform::ReplaceFileContents(file_name_, Text(), error))
    return false;
  modified_ = false;
  file_found_ = true;
  return true;
}

std::vector<std::string> TBigIniFile::MalformedLines() const {
  std::vector<std::string> lines;
  for (const Section& section : sections_)
    for (const std::string& line : section.Lines) {
      std::string_view name;
      if (!EntryName(line, &name) && line.front() != ';' && line.front() != '#')
        lines.push_back("[" + section.Name + "] " + line);
    }
  return lines;
}

} // namespace kestrel::settings
