// Host arrays: elements stored in each class's own type, the mx functions
// that inspect and create them, and the C++ helpers that build and read them.
#include "array_impl.h"
#include "checked_size.h"
#include "call_context.h"
#include "qirhost/host.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace qirhost::detail {
namespace {

template <typename T>
struct As {
  using type = T;
};

// Calls fn with As<T> for the element type the class stores; As<void> for
// classes without numeric storage.
template <typename Fn>
decltype(auto) with_element_type(mxClassID class_id, Fn &&fn) {
  switch (class_id) {
    case mxDOUBLE_CLASS: return fn(As<double>{});
    case mxSINGLE_CLASS: return fn(As<float>{});
    case mxLOGICAL_CLASS: return fn(As<bool>{});
    case mxCHAR_CLASS: return fn(As<char16_t>{});
    case mxINT8_CLASS: return fn(As<std::int8_t>{});
    case mxUINT8_CLASS: return fn(As<std::uint8_t>{});
    case mxINT16_CLASS: return fn(As<std::int16_t>{});
    case mxUINT16_CLASS: return fn(As<std::uint16_t>{});
    case mxINT32_CLASS: return fn(As<std::int32_t>{});
    case mxUINT32_CLASS: return fn(As<std::uint32_t>{});
    case mxINT64_CLASS: return fn(As<std::int64_t>{});
    case mxUINT64_CLASS: return fn(As<std::uint64_t>{});
    default: return fn(As<void>{});
  }
}

// Logical elements are one byte each; reading them through bool would
// trust every byte a module wrote to be 0 or 1.
template <typename T>
using Stored = std::conditional_t<std::is_same_v<T, bool>, std::uint8_t, T>;
static_assert(sizeof(bool) == 1, "logical elements are one byte");

// Integer classes round to nearest and saturate, NaN becoming zero.
template <typename T>
T from_double(double value) {
  if constexpr (std::is_same_v<T, bool>) {
    return value != 0.0;
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(value);
  } else {
    if (std::isnan(value)) return T{0};
    const double rounded = std::round(value);
    if (rounded <= static_cast<double>(std::numeric_limits<T>::min()))
      return std::numeric_limits<T>::min();
    if (rounded >= static_cast<double>(std::numeric_limits<T>::max()))
      return std::numeric_limits<T>::max();
    return static_cast<T>(rounded);
  }
}

double load_element(mxClassID class_id, const std::byte *data, std::size_t index) {
  return with_element_type(class_id, [&](auto as) {
    using T = typename decltype(as)::type;
    if constexpr (std::is_void_v<T>) {
      return 0.0;
    } else {
      Stored<T> element;
      std::memcpy(&element, data + index * sizeof element, sizeof element);
      if constexpr (std::is_same_v<T, bool>) return element != 0 ? 1.0 : 0.0;
      return static_cast<double>(element);
    }
  });
}

void store_element(mxClassID class_id, std::byte *data, std::size_t index, double value) {
  with_element_type(class_id, [&](auto as) {
    using T = typename decltype(as)::type;
    if constexpr (!std::is_void_v<T>) {
      const Stored<T> element = from_double<T>(value);
      std::memcpy(data + index * sizeof element, &element, sizeof element);
    }
  });
}

// Fewer than two dims are padded with ones; trailing ones past the second
// are dropped, as MATLAB does.
void normalize_dims(std::vector<mwSize> &dims) {
  while (dims.size() < 2) dims.push_back(1);
  while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
}

std::optional<std::size_t> storage_bytes(mxClassID class_id, const std::vector<mwSize> &dims) {
  std::size_t count = 1;
  for (mwSize extent : dims)
    if (!multiply_size(count, extent, &count)) return std::nullopt;
  std::size_t bytes = 0;
  if (!multiply_size(count, element_size(class_id), &bytes)) return std::nullopt;
  if (bytes > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()))
    return std::nullopt;
  return bytes;
}

void store_all(mxClassID class_id, std::vector<std::byte> &storage,
               const std::vector<double> &values) {
  for (std::size_t i = 0; i < values.size(); ++i)
    store_element(class_id, storage.data(), i, values[i]);
}

}  // namespace

std::size_t element_size(mxClassID class_id) {
  return with_element_type(class_id, [](auto as) -> std::size_t {
    using T = typename decltype(as)::type;
    if constexpr (std::is_void_v<T>) {
      return 0;
    } else {
      return sizeof(Stored<T>);
    }
  });
}

bool is_numeric_class(mxClassID class_id) {
  return class_id >= mxDOUBLE_CLASS && class_id <= mxUINT64_CLASS;
}

std::size_t element_count(const mxArray &array) {
  std::size_t count = 1;
  for (mwSize extent : array.dims) count *= extent;
  return count;
}

std::unique_ptr<mxArray> new_array(mxClassID class_id, std::vector<mwSize> dims, bool complex) {
  normalize_dims(dims);
  const std::optional<std::size_t> bytes = storage_bytes(class_id, dims);
  if (!bytes) return nullptr;
  auto array = std::make_unique<mxArray>();
  array->class_id = class_id;
  array->dims = std::move(dims);
  array->real.resize(*bytes);
  array->complex = complex && is_numeric_class(class_id);
  if (array->complex) array->imag.resize(*bytes);
  return array;
}

}  // namespace qirhost::detail

using qirhost::detail::element_count;

extern "C" {

mwSize mxGetNumberOfDimensions(const mxArray *array) { return array->dims.size(); }
const mwSize *mxGetDimensions(const mxArray *array) { return array->dims.data(); }
std::size_t mxGetNumberOfElements(const mxArray *array) { return element_count(*array); }
std::size_t mxGetM(const mxArray *array) { return array->dims[0]; }
// Columns: every dimension past the first folded together.
std::size_t mxGetN(const mxArray *array) {
  std::size_t columns = 1;
  for (std::size_t d = 1; d < array->dims.size(); ++d) columns *= array->dims[d];
  return columns;
}
mxClassID mxGetClassID(const mxArray *array) { return array->class_id; }
bool mxIsDouble(const mxArray *array) { return array->class_id == mxDOUBLE_CLASS; }
bool mxIsNumeric(const mxArray *array) { return qirhost::detail::is_numeric_class(array->class_id); }
bool mxIsLogical(const mxArray *array) { return array->class_id == mxLOGICAL_CLASS; }
bool mxIsComplex(const mxArray *array) { return array->complex; }
bool mxIsSparse(const mxArray *array) { return array->sparse; }
bool mxIsEmpty(const mxArray *array) { return element_count(*array) == 0; }

double mxGetScalar(const mxArray *array) {
  if (element_count(*array) == 0 || (array->borrowed == nullptr && array->real.empty()))
    return 0.0;
  return qirhost::detail::load_element(array->class_id, qirhost::detail::real_data(*array), 0);
}

// Like the real host, the pointer is to the raw storage whatever the class.
// A borrowed array's pointer is the lender's (the modules never write
// their inputs).
double *mxGetPr(const mxArray *array) {
  auto *storage = const_cast<std::byte *>(qirhost::detail::real_data(*array));
  return reinterpret_cast<double *>(storage);
}

mxArray *mxCreateNumericArray(mwSize ndim, const mwSize *dims, mxClassID class_id,
                              mxComplexity flag) {
  auto *call = qirhost::detail::current_call();
  if (call != nullptr && !call->admit_allocation()) return nullptr;
  try {
    std::vector<mwSize> shape;
    if (ndim > 0) shape.assign(dims, dims + ndim);
    auto array = qirhost::detail::new_array(class_id, std::move(shape), flag == mxCOMPLEX);
    if (!array || call == nullptr) return array.release();
    return call->adopt(std::move(array));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag) {
  const mwSize dims[] = {m, n};
  return mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, flag);
}

void mxDestroyArray(mxArray *array) {
  if (array == nullptr) return;
  auto *call = qirhost::detail::current_call();
  std::unique_ptr<mxArray> owned = call != nullptr ? call->disown(array) : nullptr;
  if (!owned) owned.reset(array);  // created outside this call: the caller owned it
}

}  // extern "C"

namespace qirhost {

void ArrayDeleter::operator()(mxArray *array) const { std::unique_ptr<mxArray> owned(array); }

ArrayPtr make_array(mxClassID class_id, const std::vector<std::size_t> &dims,
                    const std::vector<double> &real, const std::vector<double> &imag,
                    bool sparse) {
  if (!imag.empty() && !detail::is_numeric_class(class_id))
    throw std::invalid_argument("only numeric arrays can be complex");
  auto array = detail::new_array(class_id, dims, !imag.empty());
  if (!array) throw std::length_error("array size overflows");
  const std::size_t count = element_count(*array);
  if (real.size() > count || imag.size() > count)
    throw std::invalid_argument("more values than array elements");
  detail::store_all(class_id, array->real, real);
  detail::store_all(class_id, array->imag, imag);
  array->sparse = sparse;
  return ArrayPtr(array.release());
}

ArrayPtr make_matrix(std::size_t rows, std::size_t cols, const std::vector<double> &column_major) {
  if (column_major.size() != rows * cols)
    throw std::invalid_argument("matrix values do not match its size");
  return make_array(mxDOUBLE_CLASS, {rows, cols}, column_major);
}

ArrayPtr make_rows(const std::vector<std::vector<double>> &rows) {
  const std::size_t cols = rows.empty() ? 0 : rows.front().size();
  std::vector<double> column_major(rows.size() * cols);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() != cols) throw std::invalid_argument("rows differ in length");
    for (std::size_t c = 0; c < cols; ++c) column_major[c * rows.size() + r] = rows[r][c];
  }
  return make_matrix(rows.size(), cols, column_major);
}

ArrayPtr make_scalar(double value) { return make_matrix(1, 1, {value}); }
ArrayPtr make_row(const std::vector<double> &values) { return make_matrix(1, values.size(), values); }
ArrayPtr make_column(const std::vector<double> &values) { return make_matrix(values.size(), 1, values); }

ArrayPtr make_string(std::string_view text) {
  std::vector<double> codes;
  codes.reserve(text.size());
  for (unsigned char code : text) codes.push_back(code);
  return make_array(mxCHAR_CLASS, {1, text.size()}, codes);
}

ArrayPtr borrow_matrix(std::size_t rows, std::size_t cols, const double *column_major) {
  auto array = detail::new_array(mxDOUBLE_CLASS, {0, 0}, false);
  array->dims = {rows, cols};
  if (!detail::storage_bytes(mxDOUBLE_CLASS, array->dims))
    throw std::length_error("array size overflows");
  array->borrowed = reinterpret_cast<const std::byte *>(column_major);
  return ArrayPtr(array.release());
}

std::vector<std::size_t> dims_of(const mxArray *array) { return array->dims; }

std::vector<double> values_of(const mxArray *array) {
  const std::size_t count = element_count(*array);
  if (count == 0 || (array->borrowed == nullptr && array->real.empty())) return {};
  std::vector<double> values(count);
  const std::byte *data = detail::real_data(*array);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = detail::load_element(array->class_id, data, i);
  return values;
}

}  // namespace qirhost
