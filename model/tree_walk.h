// The walk order the skeleton and the IK goal tree share: all nodes of a tree
// in one array, each parent before its children and the children in the order
// they were added (the order a depth-first descent meets them). Every walk of
// a tree is a loop over this array, so no walk needs stack in proportion to
// the tree's depth, and a node's whole subtree is one run of the array.
#pragma once
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/d3dx9_math.h"

// Node: a tree node with `m_children` (unique pointers, in the order added)
// and the `m_nWalk` and `m_nSubtree` fields this order fills in.
template <class Node>
struct TreeWalk {
  std::vector<Node*> nodes;     // the top node first
  std::vector<int32_t> parent;  // each node's parent as a place in nodes; -1 for the top
  std::vector<int32_t> depth;   // levels below the top
  std::vector<D3DXMATRIX> matrices;  // one per node, for walks that hand a matrix down
  bool stale = true;            // the tree changed since the arrays were filled

  // Fills the arrays from the top down, and every node's place and subtree size.
  void Rebuild(Node* top) {
    nodes.clear();
    parent.clear();
    depth.clear();
    struct Pending {
      Node* node;
      int32_t parent;
      int32_t depth;
    };
    std::vector<Pending> pending{{top, -1, 0}};
    while (!pending.empty()) {
      const Pending p = pending.back();
      pending.pop_back();
      p.node->m_nWalk = int32_t(nodes.size());
      nodes.push_back(p.node);
      parent.push_back(p.parent);
      depth.push_back(p.depth);
      // pushed last child first, so the first child is taken next
      for (auto child = p.node->m_children.rbegin(); child != p.node->m_children.rend(); ++child)
        pending.push_back({child->get(), p.node->m_nWalk, p.depth + 1});
    }
    // A node's subtree follows it in the array: counting from the end, every
    // child's size is complete before it is added to its parent's.
    for (Node* node : nodes) node->m_nSubtree = 1;
    for (size_t i = nodes.size(); i-- > 1;) nodes[size_t(parent[i])]->m_nSubtree += nodes[i]->m_nSubtree;
    matrices.resize(nodes.size());
    stale = false;
  }
};

// Deletes every node below: each node's children are taken from it before it
// goes, so no destructor finds a subtree to delete and the work is one step
// per node however deep the tree.
template <class Node>
void DeleteDescendants(std::vector<std::unique_ptr<Node>>* children) {
  std::vector<std::unique_ptr<Node>> doomed = std::move(*children);
  children->clear();
  for (size_t i = 0; i < doomed.size(); ++i) {
    std::vector<std::unique_ptr<Node>>& below = doomed[i]->m_children;  // the node stays put as doomed grows
    std::move(below.begin(), below.end(), std::back_inserter(doomed));
    below.clear();
  }
}
