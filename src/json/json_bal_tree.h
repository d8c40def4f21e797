// The name index of a JSON object: an AA tree (a balanced binary search tree) that maps a
// member name to the member's position in the object's child list. It holds copies of the
// names, never pointers to members, so it stays valid however the members are stored.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <vector>

namespace kestrel::json {

using platform::WideString;
using platform::WideStringView;

// One tree node. Children are node numbers inside the owning tree; node 0 is the sentinel
// "bottom" whose children are itself and whose level is 0. The name is a copy kept in the
// tree's name store (offset and length), so a node costs no allocation of its own.
struct TJsonBalNode {
  int32_t left = 0;
  int32_t right = 0;
  uint8_t level = 0;
  int32_t position = -1;
  uint32_t name_offset = 0;
  uint32_t name_length = 0;
};

class TJsonBalTree {
public:
  static constexpr int32_t kBottom = 0;

  // Adds (name, position). False, with the tree unchanged, when the name is already there.
  bool Insert(WideStringView name, int32_t position);
  // Position stored for the name, -1 when absent.
  int32_t Search(WideStringView name) const;
  // Looks for the node whose position equals `position`, visiting the nodes in pre-order
  // (node, left subtree, right subtree); false when no node has that position.
  bool FindPosition(int32_t position, WideStringView& name) const;
  // Drops every node; the tree is then empty (root = bottom).
  void Clear();
  // Makes room for `count` more names of `characters` code units in all.
  void Reserve(size_t count, size_t characters);

  int32_t Root() const { return root_; }
  const TJsonBalNode& Node(int32_t index) const {
    return index == kBottom ? kBottomNode : nodes_[static_cast<size_t>(index) - 1];
  }
  WideStringView Name(int32_t index) const {
    const TJsonBalNode& n = Node(index);
    return WideStringView(names_.data() + n.name_offset, n.name_length);
  }
  size_t Count() const { return nodes_.size(); }

private:
  static const TJsonBalNode kBottomNode;

  TJsonBalNode& At(int32_t index) { return nodes_[static_cast<size_t>(index) - 1]; }
  int32_t Skew(int32_t node);
  int32_t Split(int32_t node);
  int32_t InsertAt(int32_t node, WideStringView name, int32_t position, bool& inserted);

  std::vector<TJsonBalNode> nodes_; // node n is nodes_[n - 1]; bottom is kBottomNode
  std::vector<OLECHAR> names_;      // every node's name, back to back
  int32_t root_ = kBottom;
};

} // namespace kestrel::json
