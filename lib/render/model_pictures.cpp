#include "model_pictures.h"

#include <algorithm>

#include "../base/errors.h"
#include "../evaluation/scores.h"
#include "../modules/fitting.h"

namespace qir {

ClassifyParams picture_classify_params(const Model &model) {
  const TrainingParams &p = model.params;
  return {p.D, p.ratio, p.vigilance, p.alpha, p.ct, unused_label(model_classes(model).labels), 0};
}

GridLabels classify_grid(Modules &runner, const Model &model, const PictureLayout &layout) {
  const ClassifyParams params = picture_classify_params(model);
  return {vote_on(runner, model, layout.grid, params, VoteNeeds::labels).labels, params.unknown_label};
}

PictureClasses picture_class_texts(const Model &model, const Dataset &data) {
  PictureClasses classes;
  classes.labels = picture_classes(model, data.labels);
  for (double label : classes.labels) classes.names.push_back(class_text(label, model, data.class_names));
  return classes;
}

std::string draw_model(Modules &runner, const Model &model, const PlotPoints &data,
                       const std::string &title, const std::vector<double> &chosen_features) {
  const PictureLayout layout = plan_picture(model, data, chosen_features);
  const GridLabels grid = classify_grid(runner, model, layout);
  return render_svg(model, data, title, layout, grid.labels, grid.unknown);
}

std::string draw_picture(Modules &runner, const Model &model, const std::string &what,
                         const Dataset &data, const Dataset *test, const std::string &title,
                         const std::vector<double> &chosen_features) {
  if (what != "nodes" && what != "confusion" && what != "votes" && what != "progress")
    throw UsageError("the pictures are nodes, confusion, votes and progress, not '" + what + "'");
  if (what == "nodes")
    return draw_model(runner, model, {data.patterns, data.labels, data.class_names}, title,
                      chosen_features);
  if (!chosen_features.empty()) throw UsageError("features are chosen for the nodes picture only");
  if (data.patterns.empty()) throw UsageError("the " + what + " picture needs data");
  if (what != "votes" && !data.labelled())
    throw UsageError("the " + what + " picture needs the data's true labels");
  if (what == "progress") {
    const Dataset &tested = test != nullptr ? *test : data;
    if (!tested.labelled()) throw UsageError("the progress picture needs the test data's true labels");
    return render_progress(training_progress(runner, model, data, tested), "list presentations",
                           title);
  }
  const PictureClasses classes = picture_class_texts(model, data);
  const ClassifyParams params = picture_classify_params(model);
  const VoteResult votes = vote_on(runner, model, data.patterns, params);
  if (what == "votes") return render_vote_shares(votes, data.labels, classes, title);
  return render_confusion(score(data.labels, votes.labels, params.unknown_label), classes, title);
}

std::vector<ProgressStep> training_progress(Modules &runner, const Model &model,
                                            const Dataset &train, const Dataset &test,
                                            const EnsembleOptions &options) {
  std::vector<ProgressStep> steps;
  // Each member sees its own features again (drawn, or kept by the screen).
  EnsembleOptions own = options;
  own.member_views = &model.members;
  TrainingParams params = model.params;
  const double limit = std::max(1.0, model.params.max_presentations);
  for (double p = 1; p <= limit; ++p) {
    params.max_presentations = p;
    const Model step = fit_model(runner, train, params, model.scaling(), 0, model.voting, own);
    const ClassifyParams classify = picture_classify_params(step);
    const auto assigned = apply_model(runner, step, test.patterns, classify);
    const Scores scores = score(test.labels, assigned, classify.unknown_label);
    steps.push_back({p, scores.accuracy_percent(), static_cast<double>(step.total_nodes())});
    bool all_used = false;
    for (const auto &member : step.members) all_used = all_used || member.list_presentations >= p;
    if (!all_used) break;  // every member stopped on its own: further steps repeat this one
  }
  return steps;
}

}  // namespace qir
