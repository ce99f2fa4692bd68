#include "host_memory.h"

#include <utility>

namespace qir {

HostRows HostRows::with_row_slots(std::int32_t rows, std::int32_t cols) {
  HostRows result;
  result.row_array_ = host_calloc<double *>(static_cast<std::size_t>(rows));
  result.rows_ = rows;
  result.cols_ = cols;
  return result;
}

HostRows::HostRows(std::int32_t rows, std::int32_t cols, bool zeroed)
    : HostRows(with_row_slots(rows, cols)) {
  const std::size_t width = static_cast<std::size_t>(cols);
  const std::size_t values = static_cast<std::size_t>(rows) * width;
  slab_ = zeroed ? host_calloc<double>(values) : host_malloc<double>(values);
  if (!slab_) return;  // no values: every row stays null, as an empty block would
  for (std::int32_t i = 0; i < rows; ++i) row_array_[i] = slab_.get() + i * width;
}

HostRows &HostRows::operator=(HostRows &&other) noexcept {
  if (this != &other) {
    clear();
    row_array_ = std::move(other.row_array_);
    slab_ = std::move(other.slab_);
    rows_ = std::exchange(other.rows_, 0);
    cols_ = std::exchange(other.cols_, 0);
  }
  return *this;
}

void HostRows::clear() {
  if (row_array_ && !slab_) {
    for (std::int32_t i = 0; i < rows_; ++i)
      if (row_array_[i] != nullptr) mxFree(row_array_[i]);
  }
  slab_.reset();
  row_array_.reset();
  rows_ = 0;
  cols_ = 0;
}

}  // namespace qir
