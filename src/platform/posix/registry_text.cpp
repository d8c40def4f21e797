// Text form of a registry root, as the Windows registry editor exports it:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Vendor]
//   "Name"="text with \"quotes\" and \\ backslashes"
//   "Count"=dword:0000002a
//   "Raw"=hex:01,02,03
//   @="the default value"
//
// Texts holding control characters (line breaks) cannot be quoted on one line; they are
// written as hex(1): UTF-16LE code units with a terminating zero, which the editor reads too.
// Expandable texts (REG_EXPAND_SZ) have no quoted form: hex(2), the same UTF-16LE units.
#include "platform/posix/registry_text.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::platform::registry_text {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::size_t kBytesPerLine = 25;

bool EqualFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// A byte of a text that is not UTF-8 travels through UTF-16 as a lone low surrogate of its own
// (U+DC80..U+DCFF), which no valid text holds, and comes back as the byte: the text is kept
// whole, whatever other tools may show for it.
constexpr uint32_t kEscapedByte = 0xDC00;

// UTF-8 to UTF-16LE bytes. A byte that does not start a valid sequence is escaped.
std::string Utf8ToUtf16Bytes(std::string_view text) {
  std::string out;
  auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    uint32_t cp = b;
    std::size_t len = 1;
    if (b >= 0xC2 && b <= 0xF4) {
      len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
      cp = b & (0x3F >> (len - 1));
      bool ok = i + len <= text.size();
      for (std::size_t k = 1; ok && k < len; ++k) {
        const auto c = static_cast<uint8_t>(text[i + k]);
        ok = (c & 0xC0) == 0x80;
        cp = cp << 6 | (c & 0x3F);
      }
      if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (len == 3 && cp < 0x800) ||
          (len == 4 && cp < 0x10000)) {
        cp = kEscapedByte + b;
        len = 1;
      }
    } else if (b >= 0x80) {
      cp = kEscapedByte + b;
    }
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
    i += len;
  }
  return out;
}

void PutUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16LE bytes to UTF-8, without the one zero unit that ends the text: a zero unit before it
// is a character of the text, which the registry keeps as it keeps any other. An escaped byte
// becomes the byte again, other lone surrogates U+FFFD.
std::string Utf16BytesToUtf8(std::string_view bytes) {
  std::string out;
  if (bytes.size() >= 2 && bytes[bytes.size() - 2] == '\0' && bytes[bytes.size() - 1] == '\0' &&
      bytes.size() % 2 == 0)
    bytes.remove_suffix(2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const uint32_t low = static_cast<uint8_t>(bytes[i + 2]) | static_cast<uint8_t>(bytes[i + 3])
                                                                    << 8;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        PutUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF)
      out.push_back(static_cast<char>(unit - kEscapedByte));
    else
      PutUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
  }
  return out;
}

bool NeedsHexForm(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; });
}

void PutQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"')
      out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// Appends "hex:" or "hex(N):" bytes, wrapped like the editor does.
void PutHex(std::string& out, std::string_view prefix, std::string_view bytes) {
  out += prefix;
  char digits[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<uint8_t>(bytes[i]));
    out += digits;
    if (i + 1 < bytes.size()) {
      out.push_back(',');
      if ((i + 1) % kBytesPerLine == 0)
        out += "\\\r\n  ";
    }
  }
}

void PutValue(std::string& out, const std::string& name, const RegistryValue& value) {
  if (name.empty())
    out.push_back('@');
  else
    PutQuoted(out, name);
  out.push_back('=');
  char prefix[24];
  if (value.type == kRegSz && !NeedsHexForm(value.data)) {
    PutQuoted(out, value.data);
  } else if (value.type == kRegSz || value.type == kRegExpandSz) {
    PutHex(out, value.type == kRegSz ? "hex(1):" : "hex(2):",
           Utf8ToUtf16Bytes(value.data) + std::string(2, '\0'));
  } else if (value.type == kRegDword && value.data.size() == 4) {
    std::snprintf(prefix, sizeof prefix, "dword:%08x", value.AsDword());
    out += prefix;
  } else if (value.type == kRegBinary) {
    PutHex(out, "hex:", value.data);
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    PutHex(out, prefix, value.data);
  }
  out += "\r\n";
}

// Each key with its full path and values, parents before children and children in name order,
// walked with a stack of its own rather than the call stack.
void PutKeys(std::string& out, const Node& root, const std::string& root_path) {
  std::vector<std::pair<const Node*, std::string>> pending;
  pending.emplace_back(&root, root_path);
  while (!pending.empty()) {
    auto [node, path] = std::move(pending.back());
    pending.pop_back();
    out += "[" + path + "]\r\n";
    for (const auto& [name, value] : node->values)
      PutValue(out, name, value);
    out += "\r\n";
    for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
      pending.emplace_back(child->second.get(), path + "\\" + child->second->name);
  }
}

// Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(std::string_view s, std::size_t& pos, std::string& out) {
  out.clear();
  for (++pos; pos < s.size(); ++pos) {
    if (s[pos] == '\\' && pos + 1 < s.size()) {
      out.push_back(s[++pos]);
    } else if (s[pos] == '"') {
      ++pos;
      return true;
    } else {
      out.push_back(s[pos]);
    }
  }
  return false;
}

bool ReadHexBytes(std::string_view s, std::string& out) {
  out.clear();
  int high = -1;
  for (char c : s) {
    if (c == ',' || c == ' ' || c == '\t' || c == '\\' || c == '\r' || c == '\n') {
      if (high >= 0)
        return false; // a single digit
      continue;
    }
    const int d = HexDigit(c);
    if (d < 0)
      return false;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<char>(high << 4 | d));
      high = -1;
    }
  }
  return high < 0;
}

// Parses the data after "=": fills `value`, or sets `erase` for "-". False when malformed.
bool ReadData(std::string_view s, RegistryValue& value, bool& erase) {
  erase = false;
  if (s == "-") {
    erase = true;
    return true;
  }
  if (!s.empty() && s.front() == '"') {
    std::size_t pos = 0;
    value.type = kRegSz;
    return ReadQuoted(s, pos, value.data) && Trim(s.substr(pos)).empty();
  }
  if (s.starts_with("dword:")) {
    const std::string_view digits = s.substr(6);
    if (digits.empty() || digits.size() > 8)
      return false;
    uint32_t v = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0)
        return false;
      v = v << 4 | static_cast<uint32_t>(d);
    }
    value = RegistryValue::Dword(v);
    return true;
  }
  if (s.starts_with("hex:")) {
    value.type = kRegBinary;
    return ReadHexBytes(s.substr(4), value.data);
  }
  if (s.starts_with("hex(")) {
    const std::size_t close = s.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12)
      return false;
    uint32_t type = 0;
    for (char c : s.substr(4, close - 4)) {
      const int d = HexDigit(c);
      if (d < 0)
        return false;
      type = type << 4 | static_cast<uint32_t>(d);
    }
    std::string bytes;
    if (!ReadHexBytes(s.substr(close + 2), bytes))
      return false;
    value.type = type;
    value.data =
        type == kRegSz || type == kRegExpandSz ? Utf16BytesToUtf8(bytes) : std::move(bytes);
    return true;
  }
  return false;
}

// Walks `parts` below `tree`; creates missing keys when `create`.
Node* Walk(Node& tree, const std::vector<std::string>& parts, bool create) {
  Node* node = &tree;
  for (const auto& part : parts) {
    Node* next = node->Child(part);
    if (!next && !create)
      return nullptr;
    node = next ? next : &node->AddChild(part);
  }
  return node;
}

} // namespace

std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  return folded;
}

Node::~Node() {
  std::vector<std::unique_ptr<Node>> pending;
  const auto take_children = [&pending](Node& node) {
    for (auto& [folded, child] : node.children)
      pending.push_back(std::move(child));
    node.children.clear();
  };
  take_children(*this);
  while (!pending.empty()) {
    const std::unique_ptr<Node> node = std::move(pending.back());
    pending.pop_back();
    take_children(*node);
  }
}

Node* Node::Child(std::string_view child) const {
  const auto it = children.find(Fold(child));
  return it == children.end() ? nullptr : it->second.get();
}

Node& Node::AddChild(std::string_view child) {
  auto& slot = children[Fold(child)];
  if (!slot) {
    slot = std::make_unique<Node>();
    slot->name = std::string(child);
  }
  return *slot;
}

const RegistryValue* Node::FindValue(std::string_view value_name) const {
  for (const auto& [name, value] : values)
    if (EqualFolded(name, value_name))
      return &value;
  return nullptr;
}

void Node::SetValue(std::string_view value_name, RegistryValue value) {
  for (auto& [name, existing] : values) {
    if (EqualFolded(name, value_name)) {
      existing = std::move(value);
      return;
    }
  }
  values.emplace_back(std::string(value_name), std::move(value));
}

bool Node::DeleteValue(std::string_view value_name) {
  return std::erase_if(
             values, [&](const auto& entry) { return EqualFolded(entry.first, value_name); }) != 0;
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    const std::size_t cut = path.find('\\');
    const std::string_view part = path.substr(0, cut);
    if (!part.empty())
      parts.emplace_back(part);
    if (cut == std::string_view::npos)
      break;
    path.remove_prefix(cut + 1);
  }
  return parts;
}

bool Parse(std::string_view text, std::string_view root_name, Node& tree, std::size_t* too_deep) {
  if (text.starts_with("\xEF\xBB\xBF"))
    text.remove_prefix(3);
  // Logical lines: a line ending in a backslash inside hex data continues on the next one.
  std::vector<std::string> lines;
  bool continues = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (continues)
      lines.back() += line;
    else
      lines.emplace_back(line);
    continues =
        !line.empty() && line.back() == '\\' && lines.back().find("=hex") != std::string::npos;
    if (continues)
      lines.back().pop_back();
  }
  std::size_t first = 0;
  while (first < lines.size() && lines[first].empty())
    ++first;
  if (first == lines.size())
    return true;
  if (lines[first] != kHeader && lines[first] != kOldHeader)
    return false;

  Node* current = nullptr;
  for (std::size_t i = first + 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty() || line.front() == ';')
      continue;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      std::string_view path =
          line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1);
      const bool remove = !path.empty() && path.front() == '-';
      if (remove)
        path.remove_prefix(1);
      auto parts = SplitPath(path);
      current = nullptr;
      if (parts.empty() || !EqualFolded(parts.front(), root_name))
        continue; // a key of another root
      parts.erase(parts.begin());
      if (parts.size() > kMaxKeyDepth) {
        if (too_deep && !remove)
          ++*too_deep;
        continue; // no such key can exist; its values go with it
      }
      if (!remove) {
        current = Walk(tree, parts, true);
      } else if (!parts.empty()) {
        const std::string leaf = parts.back();
        parts.pop_back();
        if (Node* parent = Walk(tree, parts, false))
          parent->children.erase(Fold(leaf));
      }
      continue;
    }
    if (!current)
      continue;
    std::string name;
    std::size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (line.front() != '"' || !ReadQuoted(line, pos, name)) {
      continue; // not a value line; skipped as the editor does
    }
    const std::string_view rest = Trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=')
      continue;
    RegistryValue value;
    bool erase = false;
    if (!ReadData(Trim(rest.substr(1)), value, erase))
      continue;
    if (erase)
      current->DeleteValue(name);
    else
      current->SetValue(name, std::move(value));
  }
  return true;
}

std::string Serialize(const Node& tree, std::string_view root_name) {
  std::string out(kHeader);
  out += "\r\n\r\n";
  PutKeys(out, tree, std::string(root_name));
  return out;
}

} // namespace kestrel::platform::registry_text
