#include "fitting.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "../base/errors.h"
#include "../ensemble/continuation.h"
#include "../model/feature_scaling.h"
#include "../base/number_text.h"
#include "../platform/freed_memory.h"

namespace qir {

namespace {

// Row r of n scaled into its place in the modules' column-major form. Called
// row by row, so that the value refused is the first one in row order.
void write_scaled_row(const std::vector<double> &row, std::size_t r, std::size_t n,
                      std::size_t features, const FeatureScaling &scaling, double *columns) {
  const bool scaled = scaling.kind != Scaling::none;
  for (std::size_t k = 0; k < features; ++k) {
    if (scaled && !std::isfinite(row[k])) throw NonFiniteValue(r + 1, k + 1);
    columns[k * n + r] = scaled ? scale_feature(scaling, k, row[k]) : row[k];
  }
}

// The rows scaled straight into the column-major form: one copy, where a
// scaled copy of the rows and then its transpose made two.
OwnedPatterns scaled_columns(const std::vector<std::vector<double>> &rows, std::size_t features,
                             const FeatureScaling &scaling) {
  const std::size_t n = rows.size();
  OwnedPatterns out{std::vector<double>(n * features), n, features};
  for (std::size_t r = 0; r < n; ++r)
    write_scaled_row(rows[r], r, n, features, scaling, out.values.data());
  return out;
}

// Room whose values are left unset until written: pages of a large matrix
// then come into the resident set as they are filled, not all at once.
template <class T>
struct UnsetAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UnsetAllocator<U>;
  };
  UnsetAllocator() = default;
  template <class U>
  UnsetAllocator(const UnsetAllocator<U> &) noexcept {}
  template <class U>
  void construct(U *place) noexcept {
    ::new (static_cast<void *>(place)) U;
  }
};

// Rows handed over scaled into the column-major form block by block, each
// block's rows let go as soon as it is written: the rows and the copy are
// never held whole side by side. The rows are left empty.
std::vector<double, UnsetAllocator<double>> scaled_columns_of_own(
    std::vector<std::vector<double>> &rows, std::size_t features, const FeatureScaling &scaling) {
  const std::size_t n = rows.size();
  std::vector<double, UnsetAllocator<double>> columns(n * features);
  constexpr std::size_t block = 65536;
  for (std::size_t start = 0; start < n; start += block) {
    const std::size_t stop = std::min(n, start + block);
    for (std::size_t r = start; r < stop; ++r) {
      write_scaled_row(rows[r], r, n, features, scaling, columns.data());
      std::vector<double>().swap(rows[r]);
    }
    return_freed_memory();
  }
  std::vector<std::vector<double>>().swap(rows);
  return_freed_memory();
  return columns;
}

Model fitted_model(Modules &runner, const Dataset &data, PatternMatrix patterns,
                   FeatureScaling fitted, const TrainingParams &params, double oflag,
                   const VotingSettings &voting, const EnsembleOptions &options) {
  Model model = train_ensemble(runner, patterns, data.labels, params, voting, oflag, options);
  keep_scaling(model, std::move(fitted));
  model.class_names = data.class_names;
  model.feature_names = data.feature_names;
  return model;
}

}  // namespace

Model fit_model(Modules &runner, const Dataset &data, const TrainingParams &params,
                Scaling scaling, double oflag, const VotingSettings &voting,
                const EnsembleOptions &options) {
  FeatureScaling fitted = fit_scaling(scaling, data.patterns);
  const auto patterns = scaled_columns(data.patterns, data.features(), fitted);
  return fitted_model(runner, data, patterns.view(), std::move(fitted), params, oflag, voting,
                      options);
}

Model fit_model(Modules &runner, Dataset &&data, const TrainingParams &params, Scaling scaling,
                double oflag, const VotingSettings &voting, const EnsembleOptions &options) {
  FeatureScaling fitted = fit_scaling(scaling, data.patterns);
  const std::size_t rows = data.patterns.size(), features = data.features();
  const auto columns = scaled_columns_of_own(data.patterns, features, fitted);
  return fitted_model(runner, data, {columns.data(), rows, features}, std::move(fitted), params,
                      oflag, voting, options);
}

namespace {

// Class names of the data, earlier's first: names and numbers do not mix.
ClassNames continued_classes(const Model &earlier, const Dataset &data) {
  check_label_kinds(!earlier.class_names.empty(), !data.class_names.empty());
  ClassNames names = earlier.class_names;
  // Data read with the model's names as the known ones carry those names
  // even when their labels are numbers.
  for (double label : data.labels)
    if (!names.empty() && std::none_of(data.class_names.begin(), data.class_names.end(),
                     [&](const auto &entry) { return entry.first == label; }))
      check_label_kinds(true, false);
  for (const auto &entry : data.class_names)
    if (std::find(names.begin(), names.end(), entry) == names.end()) names.push_back(entry);
  return names;
}

}  // namespace

Model continue_model(Modules &runner, const Model &earlier, const Dataset &data,
                     const TrainingParams &params, double oflag, const EnsembleOptions &options) {
  if (!data.patterns.empty() && data.features() != static_cast<std::size_t>(earlier.features))
    throw InputError("the model has " +
                     count_of(static_cast<std::size_t>(earlier.features), "feature") +
                     ", the data have " + std::to_string(data.features()));
  ClassNames names = continued_classes(earlier, data);
  const auto patterns = scaled_columns(data.patterns, static_cast<std::size_t>(earlier.features),
                                       model_scaling(earlier));
  Model model =
      continue_ensemble(runner, earlier, patterns.view(), data.labels, params, oflag, options);
  model.class_names = std::move(names);
  keep_names_with_nodes(model);
  model.feature_names = earlier.feature_names;
  return model;
}

VoteResult vote_on(Modules &runner, const Model &model,
                   const std::vector<std::vector<double>> &patterns,
                   const ClassifyParams &params, VoteNeeds needs) {
  const std::size_t features = patterns.empty() ? 0 : patterns.front().size();
  if (!patterns.empty()) check_feature_count(model, features);
  const auto rows = scaled_columns(patterns, features, model_scaling(model));
  return classify_in_blocks(runner, model, rows.view(), params, silent_block_rows, needs);
}

VoteResult vote_on(Modules &runner, const Model &model, PatternMatrix patterns,
                   const ClassifyParams &params, VoteNeeds needs) {
  // No rows still have their columns: the modules pass them through empty.
  check_feature_count(model, patterns.columns);
  const FeatureScaling scaling = model_scaling(model);
  if (scaling.kind == Scaling::none || patterns.rows == 0)
    return classify_in_blocks(runner, model, patterns, params, silent_block_rows, needs);
  const std::size_t rows = patterns.rows;
  OwnedPatterns scaled{std::vector<double>(rows * patterns.columns), rows, patterns.columns};
  // Row by row, so that the value refused is the first one in row order, as
  // with rows.
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < patterns.columns; ++c) {
      const double value = patterns.values[c * rows + r];
      if (!std::isfinite(value)) throw NonFiniteValue(r + 1, c + 1);
      scaled.values[c * rows + r] = scale_feature(scaling, c, value);
    }
  return classify_in_blocks(runner, model, scaled.view(), params, silent_block_rows, needs);
}

void check_feature_count(const Model &model, std::size_t features) {
  if (features != static_cast<std::size_t>(model.features))
    throw InputError("the model has " + count_of(static_cast<std::size_t>(model.features), "feature") + ", the data have " +
                     std::to_string(features));
}

std::vector<double> apply_model(Modules &runner, const Model &model,
                                const std::vector<std::vector<double>> &patterns,
                                const ClassifyParams &params) {
  return vote_on(runner, model, patterns, params, VoteNeeds::labels).labels;
}

double free_label(const std::vector<double> &labels) {
  if (labels.empty()) return 0;
  return *std::min_element(labels.begin(), labels.end()) - 1;
}

}  // namespace qir
