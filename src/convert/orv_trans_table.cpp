// Per-byte translation maps.
#include "convert/orv_trans_table.h"
#include "common/ascii_text.h"

#include "common/text_lines.h"
#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace kestrel::convert::orvTransTable {

namespace {

// Code lines read at most this many characters after their letter.
constexpr std::size_t kMaxLineArgument = 255;

// A decimal integer with an optional sign that fits 32 bits, or nothing.
std::optional<int32_t> DecimalInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  if (text.empty() || text.front() == '+')
    return std::nullopt;
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

} // namespace

void TorvTranslationTable::Clear() {
  items_.clear();
  RemoveControl = false;
  Remove8Bit = false;
  CaseMode = cmNone;
  LongestReplacement = 1;
}

void TorvTranslationTable::SetEntry(uint8_t code, uint8_t action, std::string_view text) {
  if (items_.size() <= code)
    items_.resize(std::size_t{code} + 1);
  if (action == taNone) {
    items_[code].reset();
    return;
  }
  if (!items_[code])
    items_[code] = std::make_unique<TorvTransItem>();
  items_[code]->Action = action;
  items_[code]->Text.assign(text);
  if (action == taString)
    LongestReplacement = std::max<int32_t>(LongestReplacement, static_cast<int32_t>(text.size()));
}

void TorvTranslationTable::LoadMap(const std::vector<std::string>& lines) {
  Clear();
  if (lines.size() > 0)
    RemoveControl = lines[0] == "Y";
  if (lines.size() > 1)
    Remove8Bit = lines[1] == "Y";
  if (lines.size() > 2) {
    const std::optional<int32_t> mode = DecimalInteger(lines[2]);
    CaseMode = mode == 1 ? cmUpper : mode == 2 ? cmLower : cmNone;
  }
  for (std::size_t i = 3; i < lines.size(); ++i) {
    const auto code = static_cast<uint8_t>((i - 3) % 256);
    const std::string_view line = lines[i];
    const std::string_view argument = line.empty() ? line : line.substr(1, kMaxLineArgument);
    if (line == "R") {
      SetEntry(code, taRemove, {});
    } else if (line.size() >= 2 && line[0] == 'C') {
      const std::optional<int32_t> number = DecimalInteger(argument);
      const char byte = static_cast<char>(number ? static_cast<uint8_t>(*number) : code);
      SetEntry(code, taReplace, std::string_view(&byte, 1));
    } else if (!line.empty() && line[0] == 'S') {
      SetEntry(code, taString, DecodeHashEscapes(argument));
    } else {
      // A later line for a code replaces what an earlier one set, even when it sets nothing.
      SetEntry(code, taNone, {});
    }
  }
}

void TorvTranslationTable::LoadMapText(std::string_view text) {
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(text))
    lines.emplace_back(line);
  LoadMap(lines);
}

std::string DecodeHashEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '#' && i + 1 < text.size()) {
      if (text[i + 1] == '#') {
        out += '#';
        ++i;
        continue;
      }
      if (i + 2 < text.size()) {
        const int high = AsciiHexValue(text[i + 1]);
        const int low = AsciiHexValue(text[i + 2]);
        if (high >= 0 && low >= 0) {
          out += static_cast<char>(high * 16 + low);
          i += 2;
          continue;
        }
      }
    }
    out += text[i];
  }
  return out;
}

std::string Translate(const TorvTranslationTable& table, std::string_view text) {
  if (text.empty())
    return {};
  std::string cased;
  if (table.CaseMode == cmUpper)
    cased = platform::AnsiUpperCase(text);
  else if (table.CaseMode == cmLower)
    cased = platform::AnsiLowerCase(text);
  const std::string_view source = table.CaseMode == cmNone ? text : std::string_view(cased);

  // What each byte becomes: null to drop it, otherwise a view of its replacement. The output is
  // sized exactly in a first pass instead of reserving length x longest replacement, which
  // can be huge for a long packet and a long replacement string.
  auto output_of = [&table](uint8_t byte, std::string_view& piece) -> bool {
    if ((byte < 0x20 && table.RemoveControl) || (byte >= 0x80 && table.Remove8Bit))
      return false;
    const TorvTransItem* item = table.Entry(byte);
    if (!item)
      return true; // unchanged
    if (item->Action == taReplace)
      piece = std::string_view(item->Text).substr(0, 1);
    else if (item->Action == taString)
      piece = item->Text;
    else
      piece = {};
    return false;
  };

  std::size_t size = 0;
  for (const char c : source) {
    std::string_view piece;
    size += output_of(static_cast<uint8_t>(c), piece) ? 1 : piece.size();
  }
  std::string out;
  out.reserve(size);
  for (const char c : source) {
    std::string_view piece;
    if (output_of(static_cast<uint8_t>(c), piece))
      out += c;
    else
      out += piece;
  }
  return out;
}

std::string Translate(const TorvTranslationTable* table, std::string_view text) {
  return ChangesNothing(table) ? std::string(text) : Translate(*table, text);
}

bool ChangesNothing(const TorvTranslationTable* table) {
  return !table || (table->Count() == 0 && !table->RemoveControl && !table->Remove8Bit &&
                    table->CaseMode == cmNone);
}

} // namespace kestrel::convert::orvTransTable
