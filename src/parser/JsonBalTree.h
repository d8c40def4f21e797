// The name index of a JSON object: an AA tree (a balanced binary search tree) that maps a
// member name to the member's position in the object's child list. It holds copies of the
// names, never pointers to members, so it stays valid however the members are stored.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <vector>

namespace kestrel::parser {

using platform::WideString;
using platform::WideStringView;

// One tree node. Children are node numbers inside the owning tree; node 0 is the sentinel
// "bottom" whose children are itself and whose level is 0.
struct TJsonBalNode {
  int32_t left = 0;
  int32_t right = 0;
  uint8_t level = 0;
  int32_t position = -1;
  WideString name;
};

class TJsonBalTree {
public:
  static constexpr int32_t kBottom = 0;

  TJsonBalTree();

  // Adds (name, position). False, with the tree unchanged, when the name is already there.
  bool Insert(WideStringView name, int32_t position);
  // Position stored for the name, -1 when absent.
  int32_t Search(WideStringView name) const;
  // Name of the node whose position equals `position`, visiting the nodes in pre-order (node,
  // left subtree, right subtree); nullptr when no node has that position.
  const WideString* FindPosition(int32_t position) const;
  // Makes room for `count` more names without further allocation.
  void Reserve(size_t count) { nodes_.reserve(nodes_.size() + count); }
  // Drops every node; the tree is then empty (root = bottom).
  void Clear();

  int32_t Root() const { return root_; }
  const TJsonBalNode& Node(int32_t index) const { return nodes_[static_cast<size_t>(index)]; }
  size_t Count() const { return nodes_.size() - 1; }

private:
  int32_t Skew(int32_t node);
  int32_t Split(int32_t node);
  int32_t InsertAt(int32_t node, WideStringView name, int32_t position, bool& inserted);

  // Node storage: nodes_[0] is bottom; every insertion appends one node. Keeping the nodes in
  // one array spares an allocation per member.
  std::vector<TJsonBalNode> nodes_;
  int32_t root_ = kBottom;
};

} // namespace kestrel::parser
