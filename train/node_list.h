// The training run's nodes in creation order: a host block of node pointers
// that grows by exactly one slot per new node, each node a heap record.
// Owns everything it holds, so every way out of a run releases it all.
#pragma once

#include "node.h"

#include <cstdint>

namespace qir {

class NodeList {
 public:
  NodeList() = default;
  ~NodeList() { release_all(); }
  NodeList(const NodeList &) = delete;
  NodeList &operator=(const NodeList &) = delete;

  std::int32_t size() const { return num_nodes_; }
  Node &operator[](std::int32_t i) { return *slots_[i]; }
  const Node &operator[](std::int32_t i) const { return *slots_[i]; }

  // Grows the block by one slot (mxCalloc for the first, mxRealloc after)
  // and puts a fresh record in it. Throws std::bad_alloc; the list is
  // unchanged then.
  Node &add();

  // Releases node i (centre, direction, record); its slot stays, empty.
  void release_node(std::int32_t i);
  // Releases every node still held, then the block.
  void release_all();

 private:
  void grow_block();

  Node **slots_ = nullptr;        // host block
  std::int32_t capacity_ = 0;     // slots in the block
  std::int32_t num_nodes_ = 0;    // slots holding a node (or released by release_node)
};

}  // namespace qir
