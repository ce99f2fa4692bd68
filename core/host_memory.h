// Blocks from the host allocator, owned RAII-style. A refused request
// surfaces as std::bad_alloc; a request for no elements is not a refusal and
// yields an empty block without asking the host.
#pragma once

#include "mex_api.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace qir {

struct HostFree {
  void operator()(void *block) const { mxFree(block); }
};

template <class T>
using HostBlock = std::unique_ptr<T[], HostFree>;

// Zero-filled block of n elements from mxCalloc.
template <class T>
HostBlock<T> host_calloc(std::size_t n) {
  if (n == 0) return HostBlock<T>();
  void *block = mxCalloc(n, sizeof(T));
  if (block == nullptr) throw std::bad_alloc();
  return HostBlock<T>(static_cast<T *>(block));
}

// The same from mxMalloc, its values left as they come: only for blocks
// that are written whole before they are read.
template <class T>
HostBlock<T> host_malloc(std::size_t n) {
  if (n == 0) return HostBlock<T>();
  if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
  void *block = mxMalloc(n * sizeof(T));
  if (block == nullptr) throw std::bad_alloc();
  return HostBlock<T>(static_cast<T *>(block));
}

// Module vector: n doubles in one host block.
struct HostVector {
  HostBlock<double> data;
  std::int32_t n = 0;
};

// Module matrix: a host block of row pointers, each row cols doubles. Rows
// either all lie in one host block (one request instead of one per row, and
// no per-block overhead in the allocator) or are host blocks of their own,
// adopted one by one. Owns its rows.
class HostRows {
 public:
  HostRows() = default;
  // Rows in one block, zero-filled, or unset with `zeroed` false for a
  // caller that writes every value. Throws std::bad_alloc; nothing is kept
  // then.
  HostRows(std::int32_t rows, std::int32_t cols, bool zeroed = true);
  ~HostRows() { clear(); }
  HostRows(HostRows &&other) noexcept { *this = std::move(other); }
  HostRows &operator=(HostRows &&other) noexcept;
  HostRows(const HostRows &) = delete;
  HostRows &operator=(const HostRows &) = delete;

  std::int32_t rows() const { return rows_; }
  std::int32_t cols() const { return cols_; }
  double *operator[](std::int32_t i) { return row_array_[i]; }
  const double *operator[](std::int32_t i) const { return row_array_[i]; }
  double *const *data() const { return row_array_.get(); }
  // Takes ownership of a host block as row i (for rows filled one by one).
  void adopt_row(std::int32_t i, HostBlock<double> row) { row_array_[i] = row.release(); }
  // Frees every row (or their one block), then the row array.
  void clear();

  // An empty row array with room for `rows` rows of `cols` values, rows not
  // yet obtained.
  static HostRows with_row_slots(std::int32_t rows, std::int32_t cols);

 private:
  HostBlock<double *> row_array_;
  HostBlock<double> slab_;  // the rows' one block, when they share one
  std::int32_t rows_ = 0;
  std::int32_t cols_ = 0;
};

}  // namespace qir
