#include "fitting.h"

#include <algorithm>

#include "errors.h"
#include "feature_scaling.h"
#include "number_text.h"

namespace qircli {

Model fit_model(ModuleRunner &runner, const Dataset &data, const TrainingParams &params,
                bool scale, double oflag) {
  FeatureRange range;  // stays empty without scaling
  Model model;
  if (scale) {
    range = fit_feature_range(data.patterns);
    Dataset scaled = data;
    scaled.patterns = scale_patterns(data.patterns, range);
    model = runner.train(scaled, params, oflag);
  } else {
    model = runner.train(data, params, oflag);
  }
  model.feature_min = range.min;
  model.feature_max = range.max;
  model.class_names = data.class_names;
  return model;
}

std::vector<double> apply_model(ModuleRunner &runner, const Model &model,
                                const std::vector<std::vector<double>> &patterns,
                                const ClassifyParams &params) {
  const std::size_t features = patterns.empty() ? 0 : patterns.front().size();
  if (!patterns.empty() && features != static_cast<std::size_t>(model.features))
    throw InputError("the model has " + count_of(static_cast<std::size_t>(model.features), "feature") + ", the data have " +
                     std::to_string(features));
  if (!model.scales()) return runner.classify(model, patterns, params);
  return runner.classify(model,
                         scale_patterns(patterns, {model.feature_min, model.feature_max}),
                         params);
}

double free_label(const std::vector<double> &labels) {
  if (labels.empty()) return 0;
  return *std::min_element(labels.begin(), labels.end()) - 1;
}

}  // namespace qircli
