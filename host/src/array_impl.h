// The host's array representation, shared by the array functions and the
// call machinery that tracks arrays created during a call.
#pragma once

#include "mex.h"

#include <cstddef>
#include <memory>
#include <vector>

struct mxArray_tag {
  mxClassID class_id = mxDOUBLE_CLASS;
  std::vector<mwSize> dims;       // at least two, no trailing singletons past two
  std::vector<std::byte> real;    // elements in the class's own type
  std::vector<std::byte> imag;    // same layout as real when complex
  bool complex = false;           // kept apart: an empty complex array has no imag bytes
  bool sparse = false;            // storage stays full; modules only test the flag
  // Real elements the caller lent (a double input the modules only read):
  // no copy in `real`, which stays empty.
  const std::byte *borrowed = nullptr;
};

namespace qirhost::detail {

std::size_t element_size(mxClassID class_id);
bool is_numeric_class(mxClassID class_id);
std::size_t element_count(const mxArray &array);
// The real elements, the array's own or borrowed.
inline const std::byte *real_data(const mxArray &array) {
  return array.borrowed != nullptr ? array.borrowed : array.real.data();
}

// A zero-filled array; null when the element count or byte size overflows.
// Throws std::bad_alloc when memory runs out.
std::unique_ptr<mxArray> new_array(mxClassID class_id, std::vector<mwSize> dims,
                                   bool complex);

}  // namespace qirhost::detail
