#include "translation/language_file.h"

#include "common/ascii_text.h"
#include "common/text_lines.h"
#include "platform/locale.h"
#include "platform/text.h"

#include <array>
#include <charconv>
#include <fstream>
#include <iterator>
#include <utility>

namespace kestrel::translation {

namespace {

// Header lines are looked for only this far into a file.
constexpr std::size_t kHeaderLines = 19;

// The lower-case text after the first "=" of a header line.
std::string OptionValue(std::string_view line, std::size_t key_end) {
  return AsciiLowerCase(std::string(TrimBlanks(line.substr(key_end))));
}

// "1049" or "0x419"; 0 when the text is neither.
uint32_t ParseLocaleId(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, base);
  return error == std::errc() && end == text.data() + text.size() ? id : 0;
}

// Applies a header line; false when the line is not one.
bool ApplyHeaderLine(std::string_view line, TLanguageFileOptions& options) {
  const std::string lower = AsciiLowerCase(std::string(line));
  const auto option = [&](std::string_view key) -> std::optional<std::string> {
    const std::size_t at = lower.find(key);
    if (at == std::string::npos)
      return std::nullopt;
    return OptionValue(line, at + key.size());
  };
  if (const auto value = option("encoding=")) {
    options.Utf8 = *value == "utf-8";
    return true;
  }
  if (const auto value = option("bidimode=")) {
    if (*value == "righttoleft")
      options.BiDiMode = TBiDiMode::RightToLeft;
    else if (*value == "righttoleftnoalign")
      options.BiDiMode = TBiDiMode::RightToLeftNoAlign;
    else if (*value == "righttoleftreadingonly")
      options.BiDiMode = TBiDiMode::RightToLeftReadingOnly;
    return true;
  }
  if (const auto value = option("locale=")) {
    if (const uint32_t id = ParseLocaleId(*value); id && platform::SetThreadLocale(id))
      options.Locale = id;
    return true;
  }
  if (const auto value = option("charset=")) {
    if (const auto charset = CharsetByName(*value)) {
      options.Charset = charset->first;
      options.CodePage = charset->second;
    }
    return true;
  }
  if (lower == "//filenew")
    options.FileMode = TCollectFileMode::NewNumbered;
  else if (lower == "//filerewrite")
    options.FileMode = TCollectFileMode::Rewrite;
  else if (lower == "//fileappend")
    options.FileMode = TCollectFileMode::Append;
  else if (lower == "//saveuntr")
    options.SaveUntranslated = true;
  else if (lower == "//saveuntrobj")
    options.SaveUntranslatedWithPath = true;
  else if (lower == "//saveunused")
    options.SaveUnused = true;
  else if (lower == "//saveall")
    options.SaveAll = true;
  else
    return false;
  return true;
}

bool IsComment(std::string_view line) {
  return line.size() >= 2 && line[0] == '/' && line[1] == '/';
}

// The text of a block line "CODE:>text" for `code`, or none.
std::optional<std::string_view> CodeLine(std::string_view line, const std::string& code) {
  if (line.size() < code.size() + 2 || line.compare(0, code.size(), code) != 0 ||
      line.compare(code.size(), 2, ":>") != 0)
    return std::nullopt;
  return line.substr(code.size() + 2);
}

} // namespace

std::optional<std::pair<int32_t, uint32_t>> CharsetByName(std::string_view name) {
  struct Charset {
    std::string_view name;
    int32_t charset;
    uint32_t code_page;
  };
  static constexpr std::array<Charset, 15> kCharsets{{
      {"windows-1250", 238, 1250},
      {"windows-1251", 204, 1251},
      {"windows-1252", 0, 1252},
      {"windows-1253", 161, 1253},
      {"windows-1254", 162, 1254},
      {"windows-1255", 177, 1255},
      {"windows-1256", 178, 1256},
      {"windows-1257", 186, 1257},
      {"windows-1258", 163, 1258},
      {"windows-874", 222, 874},
      {"shift-jis", 128, 932},
      {"hangeul", 129, 949},
      {"johab", 130, 1361},
      {"gb2312", 134, 936},
      {"chinesebig5", 136, 950},
  }};
  for (const Charset& entry : kCharsets)
    if (AsciiSameText(entry.name, name))
      return std::make_pair(entry.charset, entry.code_page);
  return std::nullopt;
}

std::size_t ReadLanguageText(std::string_view text, const std::string& source,
                             const std::string& target, TLanguageFileOptions& options,
                             TLanguageDictionary& dictionary, std::vector<std::string>* sources) {
  if (text.starts_with("\xEF\xBB\xBF")) // a UTF-8 byte-order mark
    text.remove_prefix(3);
  std::size_t stored = 0;
  std::optional<std::string_view> source_text;
  std::optional<std::string_view> target_text;
  std::size_t number = 0;
  for (std::string_view raw : SplitLines(text)) {
    const std::string_view line = TrimBlanks(raw);
    if (number++ < kHeaderLines && !line.empty() && ApplyHeaderLine(line, options))
      continue;
    if (IsComment(line))
      continue;
    if (!line.empty()) {
      // Within a block the first line of each language counts.
      if (!source_text)
        source_text = CodeLine(line, source);
      if (!target_text)
        target_text = CodeLine(line, target);
      continue;
    }
    // An empty line ends the block. A translation that decodes to nothing (a code page
    // this system cannot convert) counts as empty: the English text stays in use.
    platform::WideString translation;
    if (source_text && target_text && !source_text->empty() && !target_text->empty())
      translation = options.Utf8 ? platform::Utf8ToWide(*target_text)
                                 : platform::AnsiToWide(*target_text, options.CodePage);
    if (!translation.empty()) {
      const std::string key(*source_text);
      dictionary.Add(key, std::move(translation));
      if (sources)
        sources->push_back(key);
      ++stored;
    }
    source_text.reset();
    target_text.reset();
  }
  // A last block without an empty line after it is not taken.
  return stored;
}

TLanguageList ReadLanguageList(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF"))
    text.remove_prefix(3);
  TLanguageList list;
  bool in_section = false;
  for (std::string_view raw : SplitLines(text)) {
    const std::string_view line = TrimBlanks(raw);
    if (line.empty() || line[0] == ';')
      continue;
    if (line.front() == '[' && line.back() == ']') {
      in_section = AsciiSameText(TrimBlanks(line.substr(1, line.size() - 2)), "Languages");
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!in_section || equals == std::string_view::npos)
      continue;
    const std::string_view name = TrimBlanks(line.substr(0, equals));
    const std::string_view value = TrimBlanks(line.substr(equals + 1));
    if (AsciiSameText(name, "Default"))
      list.Default = value;
    else if (name.size() > 1 && name[0] == '$')
      list.Languages.emplace_back(name.substr(1), value);
  }
  return list;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad())
    return std::nullopt;
  return text;
}

std::vector<std::string> LanguageFileList(std::string_view setting) {
  std::vector<std::string> files;
  for (std::string_view entry : SplitFields(setting, '|'))
    if (!TrimBlanks(entry).empty())
      files.emplace_back(TrimBlanks(entry));
  return files;
}

} // namespace kestrel::translation
