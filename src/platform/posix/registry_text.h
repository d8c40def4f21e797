// The in-memory tree of one registry root and its text form, the format of the Windows registry
// editor ("Windows Registry Editor Version 5.00"), kept in UTF-8.
#pragma once

#include "platform/registry.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::platform::registry_text {

// Key and value names compare without regard to ASCII case.
std::string Fold(std::string_view name);

// How many levels of keys a root holds at most, as on Windows: a deeper key is never made, and
// one in a file is skipped.
constexpr std::size_t kMaxKeyDepth = 512;

struct Node {
  Node() = default;
  // Frees the subtree one node at a time, so no depth of keys can exhaust the stack.
  ~Node();
  Node(Node&&) = default;
  Node& operator=(Node&&) = default;

  std::string name; // as first written
  std::vector<std::pair<std::string, RegistryValue>> values;
  std::map<std::string, std::unique_ptr<Node>> children; // by folded name

  Node* Child(std::string_view child) const;
  Node& AddChild(std::string_view child);
  const RegistryValue* FindValue(std::string_view value_name) const;
  void SetValue(std::string_view value_name, RegistryValue value);
  bool DeleteValue(std::string_view value_name);
};

// Splits a key path at backslashes, dropping empty parts (so "\A\B\" is "A", "B").
std::vector<std::string> SplitPath(std::string_view path);

// Reads the text of the file of root `root_name` (e.g. "HKEY_CURRENT_USER") into `tree`.
// Keys of other roots are ignored, "[-key]" and "name"=- delete; keys more than kMaxKeyDepth
// levels below the root are skipped, with their values, and counted in `*too_deep`. Returns
// false when the text is not empty and does not start with the editor's header.
bool Parse(std::string_view text, std::string_view root_name, Node& tree,
           std::size_t* too_deep = nullptr);

// The text of `tree`, every key written below `root_name` (without recursion).
std::string Serialize(const Node& tree, std::string_view root_name);

} // namespace kestrel::platform::registry_text
