// An INI file held in memory for one settings operation: read whole when opened, changed in
// place, and written back (in one step, see platform/files.h) only when something changed.
//
// A line "[name]" opens a section; other lines belong to the section above them (blank lines
// and a lone end-of-file character 0x1A are dropped). Lines before the first section belong to
// no section: they are never read as entries, and written back first, as they were. An entry
// line is split at its first "="; name and value are taken without surrounding blanks.
// Section and entry names compare without regard to case. Lines of a section that are neither
// entries nor comments (";" or "#") are kept as they are and listed in MalformedLines().
//
// A file that exists but cannot be used (unreadable, not a regular file, or not 8-bit INI text:
// UTF-16, binary data) reads as empty and is never written back; Problem() says why.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel::settings {

class TBigIniFile {
public:
  // Reads the file; a missing or unreadable file gives an empty one.
  explicit TBigIniFile(std::string file_name);

  const std::string& FileName() const { return file_name_; }
  bool FileFound() const { return file_found_; }
  // Why the file is not used, or empty when it was read (or does not exist).
  const std::string& Problem() const { return problem_; }

  // The entry's value; false when the section or the entry does not exist.
  bool ReadString(std::string_view section, std::string_view name, std::string* value) const;
  // Replaces the entry's line in place when its value differs, or appends it at the end of the
  // section, creating the section at the end of the file.
  void WriteString(std::string_view section, std::string_view name, std::string_view value);
  // Removes the entry when it exists.
  void DeleteKey(std::string_view section, std::string_view name);

  bool Modified() const { return modified_; }
  // The file text as it would be written: the lines before the first section, then every
  // section with lines, its lines and an empty line, all ended by CR LF (after the UTF-8 byte
  // order mark when the file had one).
  std::string Text() const;
  // Writes the file back when it changed. False when writing failed or the file has a
  // Problem() (`error` says why); the file on disk is then as it was.
  bool UpdateFile(std::string* error = nullptr);

  // The names of the sections, in file order, and the entry names of one section.
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> EntryNames(std::string_view section) const;

  // "[section] line" for each line that is neither an entry nor a comment.
  std::vector<std::string> MalformedLines() const;

private:
  struct Section {
    std::string Name;
    std::vector<std::string> Lines;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  static std::ptrdiff_t FindEntry(const Section& section, std::string_view name);

  std::string file_name_;
  std::string problem_;
  bool file_found_ = false;
  bool modified_ = false;
  bool byte_order_mark_ = false;
  std::vector<std::string> leading_lines_; // before the first section
  std::vector<Section> sections_;
};

} // namespace kestrel::settings
