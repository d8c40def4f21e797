#include "parser/JsonBalTree.h"

namespace kestrel::parser {

TJsonBalTree::TJsonBalTree() {
  nodes_.emplace_back();
}

// Rotates right when the left child is on the same level as the node.
int32_t TJsonBalTree::Skew(int32_t node) {
  const int32_t left = nodes_[node].left;
  if (node == kBottom || nodes_[left].level != nodes_[node].level)
    return node;
  nodes_[node].left = nodes_[left].right;
  nodes_[left].right = node;
  return left;
}

// Rotates left and raises the new top when two right links in a row share the node's level.
int32_t TJsonBalTree::Split(int32_t node) {
  const int32_t right = nodes_[node].right;
  if (node == kBottom || nodes_[nodes_[right].right].level != nodes_[node].level)
    return node;
  nodes_[node].right = nodes_[right].left;
  nodes_[right].left = node;
  ++nodes_[right].level;
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
    fresh.name.assign(name);
    inserted = true;
    return static_cast<int32_t>(nodes_.size() - 1);
  }
  const int cmp = name.compare(nodes_[node].name);
  if (cmp == 0)
    return node; // already indexed: the first member of a name wins
  if (cmp < 0) {
    const int32_t child = InsertAt(nodes_[node].left, name, position, inserted);
    nodes_[node].left = child;
  } else {
    const int32_t child = InsertAt(nodes_[node].right, name, position, inserted);
    nodes_[node].right = child;
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
    const TJsonBalNode& n = nodes_[node];
    const int cmp = name.compare(n.name);
    if (cmp == 0)
      return n.position;
    node = cmp < 0 ? n.left : n.right;
  }
  return -1;
}

const WideString* TJsonBalTree::FindPosition(int32_t position) const {
  // Pre-order walk with an explicit stack; the tree is balanced, so the stack stays short.
  std::vector<int32_t> pending;
  if (root_ != kBottom)
    pending.push_back(root_);
  while (!pending.empty()) {
    const TJsonBalNode& n = nodes_[pending.back()];
    pending.pop_back();
    if (n.position == position)
      return &n.name;
    if (n.right != kBottom)
      pending.push_back(n.right);
    if (n.left != kBottom)
      pending.push_back(n.left);
  }
  return nullptr;
}

void TJsonBalTree::Clear() {
  nodes_.resize(1);
  root_ = kBottom;
}

} // namespace kestrel::parser
