#include "node_list.h"

#include "mex_api.h"

#include <limits>
#include <memory>
#include <new>

namespace qir {

void NodeList::grow_block() {
  if (num_nodes_ == std::numeric_limits<std::int32_t>::max()) throw std::bad_alloc();
  const std::size_t slots = static_cast<std::size_t>(num_nodes_) + 1;
  void *block = slots_ == nullptr ? mxCalloc(1, sizeof(Node *))
                                  : mxRealloc(slots_, slots * sizeof(Node *));
  // A refused mxRealloc leaves the old block with us.
  if (block == nullptr) throw std::bad_alloc();
  slots_ = static_cast<Node **>(block);
  capacity_ = static_cast<std::int32_t>(slots);
}

Node &NodeList::add() {
  // A slot made earlier whose record was then refused is used again.
  if (capacity_ == num_nodes_) grow_block();
  std::unique_ptr<Node> node = std::make_unique<Node>();
  slots_[num_nodes_] = node.release();
  return *slots_[num_nodes_++];
}

void NodeList::release_node(std::int32_t i) {
  std::unique_ptr<Node> node(slots_[i]);
  slots_[i] = nullptr;
  if (!node) return;
  // Centre first, then direction, then the record.
  std::vector<double>().swap(node->center);
  std::vector<double>().swap(node->direction);
}

void NodeList::release_all() {
  for (std::int32_t i = 0; i < num_nodes_; ++i) release_node(i);
  if (slots_ != nullptr) mxFree(slots_);
  slots_ = nullptr;
  capacity_ = 0;
  num_nodes_ = 0;
}

}  // namespace qir
