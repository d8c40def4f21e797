// Per-byte translation maps: each byte code can pass, be removed, or be replaced by a byte or
// a string; control and 8-bit bytes can be removed wholesale; the text can be cased first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::convert::orvTransTable {

// What an entry does with its byte.
enum : uint8_t {
  taNone = 0,    // no entry: the byte passes (SetEntry with it frees the entry)
  taReplace = 1, // replace by the first byte of the text
  taRemove = 2,  // remove the byte
  taString = 3,  // replace by the whole text
};

// Case change applied to the whole text before the entries.
enum : uint8_t { cmNone = 0, cmUpper = 1, cmLower = 2 };

struct TorvTransItem {
  uint8_t Action = taNone;
  std::string Text;
};

class TorvTranslationTable {
public:
  TorvTranslationTable() = default;

  // Clears the table and rebuilds it from the lines of a map setting: remove-control flag,
  // remove-8-bit flag, case mode, then one line per byte code from 0 on (wrapping after 255).
  void LoadMap(const std::vector<std::string>& lines);
  // The same from the setting's text, split into lines at CR LF, LF or CR.
  void LoadMapText(std::string_view text);

  // Grows the table up to `code`; action taNone frees the entry there, any other action sets it.
  void SetEntry(uint8_t code, uint8_t action, std::string_view text);

  // Frees every entry and resets the options.
  void Clear();

  // The entry at a code, or null.
  const TorvTransItem* Entry(uint8_t code) const {
    return code < items_.size() ? items_[code].get() : nullptr;
  }
  // Positions in the list (codes beyond it have no entry).
  std::size_t Count() const { return items_.size(); }

  bool RemoveControl = false; // bytes 0x00-0x1F are removed
  bool Remove8Bit = false;    // bytes 0x80-0xFF are removed
  uint8_t CaseMode = cmNone;
  int32_t LongestReplacement = 1;

private:
  std::vector<std::unique_ptr<TorvTransItem>> items_;
};

// "##" is "#", "#hh" (two hexadecimal digits) is that byte, any other "#" stays as it is.
std::string DecodeHashEscapes(std::string_view text);

// The text translated by the table; a null table leaves it unchanged.
std::string Translate(const TorvTranslationTable& table, std::string_view text);
std::string Translate(const TorvTranslationTable* table, std::string_view text);
// True when translating through `table` (which may be null) gives back the text unchanged.
bool ChangesNothing(const TorvTranslationTable* table);

} // namespace kestrel::convert::orvTransTable
