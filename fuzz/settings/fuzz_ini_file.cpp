// The INI engine: the input up to the first zero byte is a file, the rest are entries to
// write, each "name=value" up to the next zero byte. The file as the engine writes it reads
// back the same (same text, same values, same malformed lines); written entries read back
// with their trimmed values, also after the file was saved and read again. A file that does
// not read as an INI file is never written.
#include "settings/big_ini_file.h"

#include "common/ascii_text.h"
#include "common/text_lines.h"
#include "platform/files.h"
#include "platform/system.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using namespace kestrel;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

// One file per process, removed when the process ends.
const std::string& ScratchFile() {
  static const struct Scratch {
    // A memory file system where there is one: the file is replaced several times per input.
    std::string path =
        ((std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                    : std::filesystem::temp_directory_path()) /
         ("kestrel-fuzz-" + platform::GuidToText(platform::CreateGuid()) + ".ini"))
            .string();
    ~Scratch() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } scratch;
  return scratch.path;
}

struct Entry {
  std::string Section;
  std::string Name;
};

// Sections and entry names of a text as the engine writes it (lines before the first section
// are no entries).
std::vector<Entry> EntriesOf(std::string_view text) {
  std::vector<Entry> entries;
  std::string section;
  bool in_section = false;
  for (const std::string_view line : SplitLines(text)) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = std::string(line.substr(1, line.size() - 2));
      in_section = true;
    } else if (!in_section) {
      continue;
    } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      entries.push_back({section, std::string(TrimBlanks(line.substr(0, equals)))});
    }
  }
  return entries;
}

// The same values and malformed lines; the same text too unless `a` holds written lines,
// whose blanks around the value a reader trims.
void CheckSameContent(const settings::TBigIniFile& a, const settings::TBigIniFile& b,
                      bool same_text) {
  Check(!same_text || a.Text() == b.Text());
  Check(a.MalformedLines() == b.MalformedLines());
  for (const Entry& entry : EntriesOf(a.Text())) {
    std::string from_a, from_b;
    Check(a.ReadString(entry.Section, entry.Name, &from_a));
    Check(b.ReadString(entry.Section, entry.Name, &from_b));
    Check(from_a == from_b);
  }
}

// An entry name a settings store would use: letters, digits, blanks inside, a few signs.
std::string EntryName(std::string_view text) {
  std::string name;
  for (const char c : text)
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' ||
        c == '_' || c == '.' || c == '\\')
      name += c;
  return std::string(TrimBlanks(name));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string& file = ScratchFile();
  Check(platform::ReplaceFileContents(file, std::string(input.substr(0, split))));

  settings::TBigIniFile ini(file);
  Check(ini.FileFound() && !ini.Modified());
  if (!ini.Problem().empty()) {
    // Such a file keeps every byte.
    ini.WriteString("Common", "Name", "value");
    Check(!ini.UpdateFile());
    std::string text;
    Check(platform::ReadWholeFile(file, &text) && text == input.substr(0, split));
    return 0;
  }
  Check(platform::ReplaceFileContents(file, ini.Text()));
  const settings::TBigIniFile again(file);
  CheckSameContent(ini, again, true);

  // Entries written into the first section (or a new one) and into "Common".
  std::vector<std::pair<std::string, std::string>> written;
  const std::vector<Entry> existing = EntriesOf(ini.Text());
  const std::string first = existing.empty() ? std::string("New") : existing.front().Section;
  std::string_view rest =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\0');
    const std::string_view item = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos)
      continue;
    const std::string name = EntryName(item.substr(0, equals));
    std::string value(item.substr(equals + 1));
    if (name.empty() || value.find_first_of("\r\n") != std::string::npos)
      continue;
    const std::string section = (written.size() % 2) ? std::string("Common") : first;
    ini.WriteString(section, name, value);
    std::string read;
    Check(ini.ReadString(section, name, &read) && read == TrimBlanks(value));
    written.emplace_back(section, name);
  }
  std::string error;
  Check(ini.UpdateFile(&error) && !ini.Modified());
  const settings::TBigIniFile saved(file);
  CheckSameContent(ini, saved, false);
  for (const auto& [section, name] : written) {
    std::string value;
    Check(saved.ReadString(section, name, &value));
  }
  return 0;
}
