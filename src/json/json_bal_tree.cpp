#include "json/json_bal_tree.h"

namespace kestrel::json {

const TJsonBalNode TJsonBalTree::kBottomNode{};

// Rotates right when the left child is on the same level as the node.
int32_t TJsonBalTree::Skew(int32_t node) {
  if (node == kBottom)
    return node;
  const int32_t left = At(node).left;
  if (Node(left).level != At(node).level)
    return node;
  At(node).left = At(left).right;
  At(left).right = node;
  return left;
}

// Rotates left and raises the new top when two right links in a row share the node's level.
int32_t TJsonBalTree::Split(int32_t node) {
  if (node == kBottom)
    return node;
  const int32_t right = At(node).right;
  if (Node(Node(right).right).level != At(node).level)
    return node; // also when right is bottom: its level 0 is below any node's
  At(node).right = At(right).left;
  At(right).left = node;
  ++At(right).level;
  return right;
}

int32_t TJsonBalTree::InsertAt(int32_t node, WideStringView name, int32_t position,
                               bool& inserted) {
  if (node == kBottom) {
    TJsonBalNode& fresh = nodes_.emplace_back();
    fresh.left = kBottom;
    fresh.right = kBottom;
    fresh.level = 1;
    fresh.position = position;
    fresh.name_offset = static_cast<uint32_t>(names_.size());
    fresh.name_length = static_cast<uint32_t>(name.size());
    names_.insert(names_.end(), name.begin(), name.end());
    inserted = true;
    return static_cast<int32_t>(nodes_.size());
  }
  const int cmp = name.compare(Name(node));
  if (cmp == 0)
    return node; // already indexed: the first member of a name wins
  if (cmp < 0) {
    const int32_t child = InsertAt(At(node).left, name, position, inserted);
    At(node).left = child;
  } else {
    const int32_t child = InsertAt(At(node).right, name, position, inserted);
    At(node).right = child;
  }
  return Split(Skew(node));
}

bool TJsonBalTree::Insert(WideStringView name, int32_t position) {
  bool inserted = false;
  root_ = InsertAt(root_, name, position, inserted);
  return inserted;
}

int32_t TJsonBalTree::Search(WideStringView name) const {
  int32_t node = root_;
  while (node != kBottom) {
    const int cmp = name.compare(Name(node));
    if (cmp == 0)
      return Node(node).position;
    node = cmp < 0 ? Node(node).left : Node(node).right;
  }
  return -1;
}

bool TJsonBalTree::FindPosition(int32_t position, WideStringView& name) const {
  // Pre-order walk with an explicit stack; the tree is balanced, so the stack stays short.
  std::vector<int32_t> pending;
  if (root_ != kBottom)
    pending.push_back(root_);
  while (!pending.empty()) {
    const int32_t index = pending.back();
    pending.pop_back();
    const TJsonBalNode& n = Node(index);
    if (n.position == position) {
      name = Name(index);
      return true;
    }
    if (n.right != kBottom)
      pending.push_back(n.right);
    if (n.left != kBottom)
      pending.push_back(n.left);
  }
  return false;
}

void TJsonBalTree::Clear() {
  nodes_.clear();
  names_.clear();
  root_ = kBottom;
}

void TJsonBalTree::Reserve(size_t count, size_t characters) {
  nodes_.reserve(nodes_.size() + count);
  names_.reserve(names_.size() + characters);
}

} // namespace kestrel::json
