// qir_gateway: the toolbox's one way into the library, private to the
// toolbox (toolbox/private). Its m-files parse options, convert labels and
// hold the help; the whole operations run here, in the library's own flows,
// with the interpreter's qir_train and qir_perf behind the modules' seam
// (interpreter_modules.h), so that they give what 'qir' and the Python
// package give, to the last bit.
//
//   model  = qir_gateway('fit', X, labels, options)
//   model  = qir_gateway('continue', model, X, labels, options)
//   [codes, shares, classes, votes, unknown] = qir_gateway('predict', model, X, options)
//   [result, fold] = qir_gateway('cv', X, labels, options)
//   [ranked, outcome, best] = qir_gateway('search', X, labels, options)
//   model  = qir_gateway('read', file)
//            qir_gateway('write', model, file)   (or an SVG's text)
//   shapes = qir_gateway('shapes', Templates, ratio, [i j], feature_min, feature_max)
//   rgb    = qir_gateway('colours')
//   ok     = qir_gateway('is_label', values)
//   [ids, texts] = qir_gateway('warnings', X, labels)
//   ids    = qir_gateway('warnings')            (every identifier)
//   [test, batches, late_class, late_batch] = qir_gateway('stream_plan', labels, batches, seed)
//   [X, y, names] = qir_gateway('read_data', file)   (a data file, as qir reads it)
//   P      = qir_gateway('parameters')      (the parameter table, P(k) one parameter)
//   layout = qir_gateway('picture_layout', model, X, labels, [i j])
//   svg    = qir_gateway('picture_svg', model, X, labels, title, [i j], grid_labels, unknown)
//   svg    = qir_gateway('confusion_svg', model, truth, assigned, unknown, title)
//   svg    = qir_gateway('votes_svg', model, truth, classes, shares, title)
//   svg    = qir_gateway('progress_svg', steps, title)
//   label  = qir_gateway('unknown_label', model)
//   svg    = qir_gateway('picture', model, what, X, labels, test_X, test_labels, title, [i j])
//
// An option left empty in `options` takes the library's default. Refusals
// raise 'qir_gateway:refused' with the text in the words of the m-file's
// user ("option 'Ratio' must be in (0.0, 1.0]."); any other error of the
// modules (an interrupt, memory) comes back as the interpreter gave it.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "../../lib/qir.h"
#include "interpreter_modules.h"
#include "mex_api.h"

#ifdef HAVE_OCTAVE
#include <octave/quit.h>
#endif

namespace {

using namespace qir;

// The model struct's training parameters, named as the model file's keys.
std::vector<std::pair<const char *, double TrainingParams::*>> parameter_fields() {
  std::vector<std::pair<const char *, double TrainingParams::*>> fields;
  for (const Parameter &row : parameter_table)  // its names are literals, so end in '\0'
    if (row.field != nullptr) fields.emplace_back(row.model_key.data(), row.field);
  return fields;
}

// Arrays made here belong to the host, which reclaims them if the call
// ends early; only host-side failures to create one throw.
mxArray *checked(mxArray *array) {
  if (array == nullptr) throw std::bad_alloc();
  return array;
}

mxArray *matrix(std::size_t rows, std::size_t cols) {
  return checked(mxCreateDoubleMatrix(rows, cols, mxREAL));
}

mxArray *scalar(double value) { return checked(mxCreateDoubleScalar(value)); }

mxArray *column(const std::vector<double> &values) {
  mxArray *array = matrix(values.size(), 1);
  if (!values.empty()) std::memcpy(mxGetPr(array), values.data(), values.size() * sizeof(double));
  return array;
}

mxArray *row(const std::vector<double> &values) {
  if (values.empty()) return matrix(0, 0);
  mxArray *array = matrix(1, values.size());
  std::memcpy(mxGetPr(array), values.data(), values.size() * sizeof(double));
  return array;
}

mxArray *text_cells(const std::vector<std::string> &texts) {
  mxArray *cells = checked(mxCreateCellMatrix(texts.size(), 1));
  for (std::size_t k = 0; k < texts.size(); ++k)
    mxSetCell(cells, k, checked(mxCreateString(texts[k].c_str())));
  return cells;
}

// One row per list, in a column of cells (0 x 0 for none).
mxArray *row_cells(const std::vector<std::vector<double>> &lists) {
  mxArray *cells = checked(mxCreateCellMatrix(lists.empty() ? 0 : lists.size(), lists.empty() ? 0 : 1));
  for (std::size_t k = 0; k < lists.size(); ++k) mxSetCell(cells, k, row(lists[k]));
  return cells;
}

std::string text_argument(const mxArray *array, const std::string &what) {
  if (!mxIsChar(array)) throw InputError(what + " must be text");
  char *raw = mxArrayToString(array);
  if (raw == nullptr) throw std::bad_alloc();
  std::string text(raw);
  mxFree(raw);
  return text;
}

// A full real double array: what the toolbox's m-files pass after double().
const double *real_data(const mxArray *array, const std::string &what) {
  if (!mxIsDouble(array) || mxIsComplex(array) || mxIsSparse(array))
    throw InputError(what + " must be a full real double array");
  return mxGetPr(array);
}

std::vector<double> values_of(const mxArray *array, const std::string &what) {
  const double *data = real_data(array, what);
  return std::vector<double>(data, data + mxGetNumberOfElements(array));
}

double scalar_argument(const mxArray *array, const std::string &what) {
  const std::vector<double> values = values_of(array, what);
  if (values.size() != 1) throw InputError(what + " must be one number");
  return values[0];
}

// Rows of a column-major matrix. Its sizes are the host's, so the rows are
// built only for values the matrix holds: an empty matrix costs nothing,
// whatever its other size, and a width that is not `width` is refused
// before any row is made.
std::vector<std::vector<double>> rows_of(const mxArray *array, const std::string &what,
                                         std::size_t width = 0) {
  const double *data = real_data(array, what);
  const std::size_t rows = mxGetM(array), cols = mxGetN(array);
  if (rows == 0) return {};
  if (width != 0 && cols != width)
    throw InputError(what + " has " + std::to_string(cols) + " columns, not " +
                     std::to_string(width) + " (2M+1 for a model of M features)");
  if (cols == 0) throw InputError(what + " has rows without values");
  std::vector<std::vector<double>> out;
  out.reserve(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    std::vector<double> row(cols);
    for (std::size_t c = 0; c < cols; ++c) row[c] = data[c * rows + r];
    out.push_back(std::move(row));
  }
  return out;
}

// The patterns of `array` (P x M, column-major) as the library takes them,
// borrowed: refused as rows_of refuses them; no rows keep their columns.
PatternMatrix patterns_of(const mxArray *array, const std::string &what) {
  const double *data = real_data(array, what);
  const std::size_t rows = mxGetM(array), cols = mxGetN(array);
  if (rows > 0 && cols == 0) throw InputError(what + " has rows without values");
  return {data, rows, cols};
}

const mxArray *field(const mxArray *model, const char *name) {
  const mxArray *value = mxGetField(model, 0, name);
  if (value == nullptr) throw InputError(std::string("the model struct has no field '") + name + "'");
  return value;
}

mxArray *templates_matrix(const std::vector<std::vector<double>> &rows, std::size_t features) {
  const std::size_t nodes = rows.size();
  const std::size_t width = 2 * features + 1;
  mxArray *templates = matrix(nodes, width);
  double *t = mxGetPr(templates);
  for (std::size_t k = 0; k < nodes; ++k)
    for (std::size_t j = 0; j < width; ++j) t[j * nodes + k] = rows[k][j];
  return templates;
}

const char *const member_fields[] = {"Templates", "NLabels", "num_list_presentations"};

// The features each member sees, from 1: one row per member in a 1 x K
// cell array, [] for a member that sees them all; [] for none at all.
mxArray *member_features_cells(const Model &model) {
  bool any = false;
  for (const Member &member : model.members) any = any || !member.features.empty();
  if (!any) return matrix(0, 0);
  mxArray *cells = checked(mxCreateCellMatrix(1, model.members.size()));
  for (std::size_t k = 0; k < model.members.size(); ++k) {
    std::vector<double> numbers;
    for (std::size_t feature : model.members[k].features)
      numbers.push_back(static_cast<double>(feature + 1));
    mxSetCell(cells, k, numbers.empty() ? matrix(0, 0) : row(numbers));
  }
  return cells;
}

// model.member_features as the library keeps them (0-based); a struct
// without the field (made before members had views) has every member see
// every feature. The model file's rules check the numbers.
std::vector<std::vector<std::size_t>> member_features_of(const mxArray *model) {
  const mxArray *cells = mxGetField(model, 0, "member_features");
  if (cells == nullptr || mxIsEmpty(cells)) return {};
  if (!mxIsCell(cells)) throw InputError("model.member_features must be a cell array");
  std::vector<std::vector<std::size_t>> out;
  for (std::size_t k = 0; k < mxGetNumberOfElements(cells); ++k) {
    const mxArray *numbers = mxGetCell(cells, k);
    std::vector<std::size_t> features;
    if (numbers != nullptr)
      for (double value : values_of(numbers, "model.member_features")) {
        if (!(value >= 1 && value <= max_model_features && std::trunc(value) == value))
          throw InputError("model.member_features must hold feature numbers from 1");
        features.push_back(static_cast<std::size_t>(value) - 1);
      }
    out.push_back(std::move(features));
  }
  return out;
}

std::size_t seen_width(const std::vector<std::vector<std::size_t>> &views, std::size_t member,
                       int features) {
  if (member < views.size() && !views[member].empty()) return views[member].size();
  return static_cast<std::size_t>(features);
}

// Members 2..K as a 1 x (K-1) struct array (0 x 0 for a single model):
// the struct keeps member 1 in its top-level fields.
mxArray *members_struct(const Model &model) {
  const std::size_t count = model.members.size() - 1;
  mxArray *out = checked(mxCreateStructMatrix(count == 0 ? 0 : 1, count, 3,
                                              const_cast<const char **>(member_fields)));
  for (std::size_t k = 0; k < count; ++k) {
    const Member &member = model.members[k + 1];
    mxSetField(out, k, "Templates",
               templates_matrix(member.templates, member.width(model.features)));
    mxSetField(out, k, "NLabels", column(member.labels));
    mxSetField(out, k, "num_list_presentations", scalar(member.list_presentations));
  }
  return out;
}

mxArray *model_struct(const Model &model) {
  const char *names[] = {"Templates", "NLabels", "num_list_presentations", "features", "D",
                         "ratio", "vigilance", "alpha", "learning_rate",
                         "max_list_presentations", "trim_option", "ct_option", "feature_min",
                         "feature_max", "scaling", "feature_mean", "feature_sd", "rank_values",
                         "rank_shares", "feature_names", "class_names", "class_labels", "voters",
                         "seed", "shuffle", "max_features", "bootstrap", "oob_weights",
                         "member_weights", "member_features",
                         "batches", "further_members"};
  mxArray *out = checked(mxCreateStructMatrix(1, 1, sizeof names / sizeof *names, names));
  const Member &first = model.members.front();
  mxSetField(out, 0, "Templates", templates_matrix(first.templates, first.width(model.features)));
  mxSetField(out, 0, "NLabels", column(first.labels));
  mxSetField(out, 0, "num_list_presentations", scalar(first.list_presentations));
  mxSetField(out, 0, "features", scalar(model.features));
  for (const auto &[name, value] : parameter_fields())
    mxSetField(out, 0, name, scalar(model.params.*value));
  mxSetField(out, 0, "feature_min", row(model.feature_min));
  mxSetField(out, 0, "feature_max", row(model.feature_max));
  mxSetField(out, 0, "scaling", checked(mxCreateString(
      choice_word(parameter("scale"), static_cast<double>(model.scaling())).c_str())));
  mxSetField(out, 0, "feature_mean", row(model.feature_mean));
  mxSetField(out, 0, "feature_sd", row(model.feature_sd));
  mxSetField(out, 0, "rank_values", row_cells(model.rank_values));
  mxSetField(out, 0, "rank_shares", row_cells(model.rank_shares));
  mxSetField(out, 0, "feature_names", text_cells(model.feature_names));
  const ModelClasses classes = model_classes(model);
  mxSetField(out, 0, "class_names", text_cells(classes.names));
  mxSetField(out, 0, "class_labels",
             column(classes.names.empty() ? std::vector<double>{} : classes.labels));
  mxSetField(out, 0, "voters", scalar(model.voting.voters));
  mxSetField(out, 0, "seed", scalar(static_cast<double>(model.voting.seed)));
  mxSetField(out, 0, "shuffle", checked(mxCreateLogicalScalar(model.voting.shuffle)));
  mxSetField(out, 0, "max_features", scalar(model.voting.max_features));
  mxSetField(out, 0, "bootstrap", checked(mxCreateLogicalScalar(model.voting.bootstrap)));
  mxSetField(out, 0, "oob_weights", checked(mxCreateLogicalScalar(model.voting.oob_weights)));
  mxSetField(out, 0, "member_weights", row(model.voting.oob_weights ? vote_weights(model)
                                                                     : std::vector<double>{}));
  mxSetField(out, 0, "member_features", member_features_cells(model));
  mxSetField(out, 0, "batches", scalar(static_cast<double>(model.batches)));
  mxSetField(out, 0, "further_members", members_struct(model));
  return out;
}

// The other scalings' fields; a struct made before them has none, and
// scales by its range when it has one.
void read_scaling(const mxArray *array, Model &model) {
  if (mxGetField(array, 0, "feature_mean") != nullptr) {
    model.feature_mean = values_of(field(array, "feature_mean"), "model.feature_mean");
    model.feature_sd = values_of(field(array, "feature_sd"), "model.feature_sd");
  }
  for (const char *name : {"rank_values", "rank_shares"}) {
    const mxArray *cells = mxGetField(array, 0, name);
    if (cells == nullptr || mxIsEmpty(cells)) continue;
    const std::string what = std::string("model.") + name;
    if (!mxIsCell(cells)) throw InputError(what + " must be a cell array of one row per feature");
    auto &lists = std::string(name) == "rank_values" ? model.rank_values : model.rank_shares;
    for (std::size_t k = 0; k < mxGetNumberOfElements(cells); ++k) {
      const mxArray *cell = mxGetCell(cells, k);
      if (cell == nullptr) throw InputError(what + " must hold numbers");
      lists.push_back(values_of(cell, what));
    }
  }
}

// Structs made before features had names carry none.
std::vector<std::string> feature_names(const mxArray *model, int features) {
  const mxArray *names = mxGetField(model, 0, "feature_names");
  if (names == nullptr || mxIsEmpty(names)) return {};
  if (!mxIsCell(names) || mxGetNumberOfElements(names) != static_cast<std::size_t>(features))
    throw InputError("model.feature_names must be a cell array of one name per feature");
  std::vector<std::string> texts;
  for (std::size_t k = 0; k < static_cast<std::size_t>(features); ++k) {
    const mxArray *name = mxGetCell(names, k);
    if (name == nullptr) throw InputError("model.feature_names must hold text");
    texts.push_back(text_argument(name, "model.feature_names"));
  }
  return texts;
}

double seed_argument(const mxArray *array, const std::string &what) {
  const double seed = scalar_argument(array, what);
  if (!(seed >= 0 && seed <= 9007199254740992.0 && std::trunc(seed) == seed))
    throw InputError(what + " must be a whole number >= 0");
  return seed;
}

bool flag_argument(const mxArray *array, const std::string &what) {
  if (mxIsLogical(array) && mxGetNumberOfElements(array) == 1) return *mxGetLogicals(array);
  const double value = scalar_argument(array, what);
  if (value != 0 && value != 1) throw InputError(what + " must be true or false");
  return value == 1;
}

// The ensemble fields; a struct without them (made before the toolbox
// voted) is a single model. Whether they agree with the members is the
// model file's rule, which format_model applies.
void read_voting(const mxArray *array, Model &model,
                 const std::vector<std::vector<std::size_t>> &views) {
  if (mxGetField(array, 0, "voters") == nullptr) return;
  const double voters = scalar_argument(field(array, "voters"), "model.voters");
  if (!(voters >= 0 && voters <= 1e9 && std::trunc(voters) == voters))
    throw InputError("model.voters must be a whole number");
  model.voting.voters = static_cast<int>(voters);
  model.voting.seed =
      static_cast<std::uint64_t>(seed_argument(field(array, "seed"), "model.seed"));
  model.voting.shuffle = flag_argument(field(array, "shuffle"), "model.shuffle");
  if (const mxArray *fraction = mxGetField(array, 0, "max_features"))
    model.voting.max_features = scalar_argument(fraction, "model.max_features");
  if (const mxArray *bootstrap = mxGetField(array, 0, "bootstrap"))
    model.voting.bootstrap = flag_argument(bootstrap, "model.bootstrap");
  if (const mxArray *weighted = mxGetField(array, 0, "oob_weights"))
    model.voting.oob_weights = flag_argument(weighted, "model.oob_weights");
  check_voting(model.voting);
  if (const mxArray *batches = mxGetField(array, 0, "batches")) {
    const double count = seed_argument(batches, "model.batches");
    if (count < 1) throw InputError("model.batches must be a whole number from 1");
    model.batches = static_cast<std::uint64_t>(count);
  }
  const mxArray *members = field(array, "further_members");
  if (!mxIsStruct(members) && !mxIsEmpty(members))
    throw InputError("model.further_members must be a struct array, as qir_fit makes it");
  const std::size_t count = mxIsStruct(members) ? mxGetNumberOfElements(members) : 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string what = "model.further_members(" + std::to_string(k + 1) + ").";
    auto member_field = [&](const char *name) {
      const mxArray *value = mxGetField(members, k, name);
      if (value == nullptr) throw InputError(what + name + " is missing");
      return value;
    };
    model.members.push_back(
        {rows_of(member_field("Templates"), what + "Templates",
                 2 * seen_width(views, k + 1, model.features) + 1),
         values_of(member_field("NLabels"), what + "NLabels"),
         scalar_argument(member_field("num_list_presentations"), what + "num_list_presentations"),
         k + 1 < views.size() ? views[k + 1] : std::vector<std::size_t>{}});
  }
  if (!views.empty() && views.size() != model.members.size())
    throw InputError("model.member_features must have one entry per member");
  const mxArray *weights = mxGetField(array, 0, "member_weights");
  if (weights == nullptr || mxIsEmpty(weights)) return;
  const std::vector<double> given = values_of(weights, "model.member_weights");
  if (given.size() != model.members.size())
    throw InputError("model.member_weights must have one entry per member");
  for (std::size_t k = 0; k < given.size(); ++k) model.members[k].weight = given[k];
}

Model model_from_struct(const mxArray *array) {
  if (!mxIsStruct(array) || mxGetNumberOfElements(array) != 1)
    throw InputError("the model must be one struct, as qir_fit returns it");
  Model model;
  const double features = scalar_argument(field(array, "features"), "model.features");
  if (!(features >= 1 && features <= max_model_features && std::trunc(features) == features))
    throw InputError("model.features must be a whole number from 1 to " +
                     std::to_string(max_model_features));
  model.features = static_cast<int>(features);
  const auto views = member_features_of(array);
  Member &first = model.members.front();
  if (!views.empty()) first.features = views.front();
  first.templates = rows_of(field(array, "Templates"), "model.Templates",
                            2 * seen_width(views, 0, model.features) + 1);
  first.labels = values_of(field(array, "NLabels"), "model.NLabels");
  first.list_presentations =
      scalar_argument(field(array, "num_list_presentations"), "model.num_list_presentations");
  for (const auto &[name, value] : parameter_fields())
    model.params.*value = scalar_argument(field(array, name), std::string("model.") + name);
  model.feature_min = values_of(field(array, "feature_min"), "model.feature_min");
  model.feature_max = values_of(field(array, "feature_max"), "model.feature_max");
  read_scaling(array, model);
  model.feature_names = feature_names(array, model.features);
  const mxArray *names = field(array, "class_names");
  const std::vector<double> labels = values_of(field(array, "class_labels"), "model.class_labels");
  if (!mxIsCell(names) || mxGetNumberOfElements(names) != labels.size())
    throw InputError("model.class_names must be a cell array of one name per class label");
  for (std::size_t k = 0; k < labels.size(); ++k) {
    if (!is_class_label(labels[k]))
      throw InputError("model.class_labels must hold whole 32-bit numbers");
    const mxArray *name = mxGetCell(names, k);
    if (name == nullptr) throw InputError("model.class_names must hold text");
    model.class_names.emplace_back(static_cast<int>(labels[k]),
                                   text_argument(name, "model.class_names"));
  }
  read_voting(array, model, views);
  return model;
}

void is_label(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("is_label takes the values to test");
  const std::vector<double> values = values_of(prhs[1], "values");
  plhs[0] = checked(mxCreateLogicalMatrix(mxGetM(prhs[1]), mxGetN(prhs[1])));
  mxLogical *out = mxGetLogicals(plhs[0]);
  for (std::size_t k = 0; k < values.size(); ++k) out[k] = is_class_label(values[k]);
}

// The class colours as MATLAB takes them: one row of red, green, blue in [0, 1].
void colours(int nlhs, mxArray *plhs[], int nrhs, const mxArray *[]) {
  if (nrhs != 1 || nlhs > 1) throw InputError("colours takes no arguments");
  const std::size_t count = class_colours.size();
  plhs[0] = matrix(count, 3);
  double *rgb = mxGetPr(plhs[0]);
  for (std::size_t k = 0; k < count; ++k)
    for (std::size_t c = 0; c < 3; ++c)
      rgb[c * count + k] = static_cast<double>((class_colours[k] >> (16 - 8 * c)) & 0xff) / 255;
}

std::vector<std::string> texts_of(const mxArray *cells, const std::string &what) {
  if (!mxIsCell(cells)) throw InputError(what + " must be a cell array of text");
  std::vector<std::string> texts;
  for (std::size_t k = 0; k < mxGetNumberOfElements(cells); ++k) {
    const mxArray *cell = mxGetCell(cells, k);
    if (cell == nullptr) throw InputError(what + " must be a cell array of text");
    texts.push_back(text_argument(cell, what));
  }
  return texts;
}

// The stream demos' batches, as 1-based row numbers.
void stream(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 4) throw InputError("stream_plan takes labels, batches and a seed");
  const double batches = scalar_argument(prhs[2], "batches");
  const double seed = scalar_argument(prhs[3], "seed");
  if (!(batches >= 1 && batches <= 1000 && std::trunc(batches) == batches))
    throw InputError("batches must be a whole number from 1 to 1000");
  if (!(seed >= 0 && seed <= 9007199254740992.0 && std::trunc(seed) == seed))
    throw InputError("the seed must be a whole number >= 0");
  const StreamPlan plan = stream_plan(values_of(prhs[1], "labels"), static_cast<int>(batches),
                                      static_cast<std::uint64_t>(seed));
  const auto one_based = [](const std::vector<std::size_t> &rows) {
    std::vector<double> out;
    for (std::size_t row : rows) out.push_back(static_cast<double>(row + 1));
    return column(out);
  };
  plhs[0] = one_based(plan.test);
  if (nlhs > 1) {
    plhs[1] = checked(mxCreateCellMatrix(plan.batches.size(), 1));
    for (std::size_t b = 0; b < plan.batches.size(); ++b)
      mxSetCell(plhs[1], b, one_based(plan.batches[b]));
  }
  if (nlhs > 2) plhs[2] = scalar(plan.late_class);
  if (nlhs > 3) plhs[3] = scalar(static_cast<double>(plan.late_batch + 1));
}

PatternView pattern_view(const mxArray *X) {
  return {real_data(X, "X"), mxGetM(X), mxGetN(X), 1, mxGetM(X)};
}

// The library's warnings about training data, as identifiers for Octave's
// and MATLAB's warning() ('qir:single_class', ...) and their one-line texts.
void data_warnings(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs == 1 && nlhs <= 1) {
    std::vector<std::string> ids;
    for (const std::string &kind : data_warning_kinds()) ids.push_back("qir:" + kind);
    plhs[0] = text_cells(ids);
    return;
  }
  if (nrhs != 3 || nlhs > 2) throw InputError("warnings takes X and the labels");
  const PatternView patterns = pattern_view(prhs[1]);
  const std::vector<double> labels = values_of(prhs[2], "labels");
  if (labels.size() != patterns.patterns)
    throw InputError("warnings needs one label per row of X");
  std::vector<std::string> ids, texts;
  for (const DataWarning &warning :
       training_data_warnings(patterns, labels.data(), toolbox_feature_naming())) {
    ids.push_back("qir:" + warning.kind);
    texts.push_back(warning.text);
  }
  plhs[0] = text_cells(ids);
  if (nlhs > 1) plhs[1] = text_cells(texts);
}

// Each node's region on features [i j] (1-based) in the data's units, as
// the qir command draws it: one row [cx cy along across angle_degrees] per
// template row; feature_min and feature_max empty for raw features.
void shapes(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 6 || nlhs > 1)
    throw InputError("shapes takes Templates, ratio, [i j], feature_min and feature_max");
  real_data(prhs[1], "Templates");
  const std::size_t width = mxGetN(prhs[1]);
  if (width < 3 || width % 2 == 0)
    throw InputError("Templates has " + std::to_string(width) +
                     " columns; a model of M features has 2M+1");
  const std::size_t m = (width - 1) / 2;
  const std::vector<std::vector<double>> rows = rows_of(prhs[1], "Templates", width);
  const double ratio = scalar_argument(prhs[2], "ratio");
  const std::vector<double> pair = values_of(prhs[3], "the feature pair");
  const std::vector<double> lo = values_of(prhs[4], "feature_min");
  const std::vector<double> hi = values_of(prhs[5], "feature_max");
  if (pair.size() != 2 || pair[0] == pair[1])
    throw InputError("choose two different features from 1 to " + std::to_string(m));
  for (double k : pair)
    if (!(k >= 1 && k <= static_cast<double>(m) && std::trunc(k) == k))
      throw InputError("choose two different features from 1 to " + std::to_string(m));
  if (lo.size() != hi.size() || (!lo.empty() && lo.size() != m))
    throw InputError("feature_min and feature_max need one value per feature, or none");
  const FeaturePair chosen{static_cast<std::size_t>(pair[0]) - 1,
                           static_cast<std::size_t>(pair[1]) - 1};
  plhs[0] = matrix(rows.size(), 5);
  double *out = mxGetPr(plhs[0]);
  const std::size_t count = rows.size();
  for (std::size_t k = 0; k < count; ++k) {
    const NodeShape s = project_node(rows[k], ratio, chosen, lo, hi);
    const double values[] = {s.cx, s.cy, s.along, s.across, s.angle_degrees};
    for (std::size_t c = 0; c < 5; ++c) out[c * count + k] = values[c];
  }
}

void read(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("read takes a file name");
  const std::string path = text_argument(prhs[1], "the file name");
  plhs[0] = model_struct(parse_model(read_text_file(path), path));
}

// A data file read by the command's reader (quoted cells, a header, names as
// labels): the patterns, the labels (numbers, or each row's class name) and
// the feature names of the header.
void read_data(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 3) throw InputError("read_data takes a file name");
  const std::string path = text_argument(prhs[1], "the file name");
  const Dataset data = load_dataset(path, {});
  const std::size_t rows = data.patterns.size(), columns = data.features();
  plhs[0] = matrix(rows, columns);
  double *x = mxGetPr(plhs[0]);
  for (std::size_t k = 0; k < rows; ++k)
    for (std::size_t j = 0; j < columns; ++j) x[j * rows + k] = data.patterns[k][j];
  if (nlhs > 1 && data.class_names.empty()) plhs[1] = column(data.labels);
  if (nlhs > 1 && !data.class_names.empty()) {
    std::vector<std::string> names;
    names.reserve(data.labels.size());
    for (double label : data.labels)
      for (const auto &[known, name] : data.class_names)
        if (known == label) names.push_back(name);
    plhs[1] = text_cells(names);
  }
  if (nlhs > 2) plhs[2] = text_cells(data.feature_names);
}

// The parameter table (parameters.h), one struct element per parameter;
// `default` is NaN where the data decide (`default_text` says how).
void parameters(int nlhs, mxArray *plhs[], int nrhs, const mxArray *[]) {
  if (nrhs != 1 || nlhs > 1) throw InputError("parameters takes no arguments");
  const char *names[] = {"name",       "train_input", "perf_input", "module_name",
                         "flag",       "toolbox",     "python",     "model_key",
                         "default",    "default_text", "range_low", "range_high",
                         "low_open",   "high_open",   "whole",      "range_text",
                         "logical",    "description"};
  const std::size_t count = sizeof parameter_table / sizeof *parameter_table;
  plhs[0] = checked(mxCreateStructMatrix(count, 1, sizeof names / sizeof *names, names));
  auto text = [](std::string_view value) {
    return checked(mxCreateString(std::string(value).c_str()));
  };
  auto flag = [](bool value) { return checked(mxCreateLogicalScalar(value)); };
  for (std::size_t k = 0; k < count; ++k) {
    const Parameter &row = parameter_table[k];
    mxArray *out = plhs[0];
    mxSetField(out, k, "name", text(row.name));
    mxSetField(out, k, "train_input", scalar(row.train_input));
    mxSetField(out, k, "perf_input", scalar(row.perf_input));
    mxSetField(out, k, "module_name", text(row.module_name));
    mxSetField(out, k, "flag", text(row.flag));
    mxSetField(out, k, "toolbox", text(row.toolbox));
    mxSetField(out, k, "python", text(row.python));
    mxSetField(out, k, "model_key", text(row.model_key));
    mxSetField(out, k, "default", scalar(row.default_value));
    mxSetField(out, k, "default_text", text(default_text(row)));
    mxSetField(out, k, "range_low", scalar(row.range.low));
    mxSetField(out, k, "range_high", scalar(row.range.high));
    mxSetField(out, k, "low_open", flag(row.range.low_open));
    mxSetField(out, k, "high_open", flag(row.range.high_open));
    mxSetField(out, k, "whole", flag(row.range.whole));
    mxSetField(out, k, "range_text", text(allowed_text(row)));
    mxSetField(out, k, "logical", flag(row.logical));
    mxSetField(out, k, "description", text(row.description));
  }
}

// Writes the model file itself, so that no m-file handles the format's bytes,
// or a picture's text, through the one atomic writer: the old file stays
// whole until the new one is. Without its signal handlers, which have no
// place in the host's process.
void write(int nlhs, mxArray *[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3 || nlhs > 0) throw InputError("write takes a model struct or a text, and a file name");
  const std::string text = mxIsChar(prhs[1]) ? text_argument(prhs[1], "the text")
                                             : format_model(model_from_struct(prhs[1]));
  const std::string path = text_argument(prhs[2], "the file name");
  try {
    // "-" is a file here, not the command's standard output.
    write_file_atomically(path == "-" ? "./-" : path, text, SignalCleanup::none);
  } catch (const InputError &failure) {
    throw InputError(std::string("cannot write ") + failure.what());
  }
}

// ---- Whole operations: the library's flows over the interpreter's modules.

// An error of the modules that is no refusal of an argument (an interrupt,
// memory): the gateway raises it as the interpreter gave it.
struct PassedOn : std::runtime_error {
  PassedOn(const std::string &message, std::string identifier)
      : std::runtime_error(message), identifier(std::move(identifier)) {}
  std::string identifier;
};

// The modules' refusal in the words of the m-file's user; a shuffled
// member's row named as the row of X.
[[noreturn]] void reword(const ModuleError &error, const InterpreterModules &modules,
                         const ArgumentNames &names) {
  auto text = refusal_in_user_terms(error.what(), names);
  if (!text) throw PassedOn(error.what(), modules.failure_identifier());
  if (const auto *member = dynamic_cast<const MemberRefusal *>(&error))
    text = with_row_renumbered(*text, member->order);
  throw InputError(*text);
}

const mxArray *options_argument(const mxArray *array) {
  if (!mxIsStruct(array) || mxGetNumberOfElements(array) != 1)
    throw InputError("the options must be one struct");
  return array;
}

// An option as a number; nullopt when left empty (the library's default).
// A number is what the modules take as one: one real value.
std::optional<double> option(const mxArray *options, const char *name) {
  const mxArray *value = mxGetField(options, 0, name);
  if (value == nullptr || mxIsEmpty(value)) return std::nullopt;
  const bool vector = mxGetNumberOfDimensions(value) == 2 && (mxGetM(value) == 1 || mxGetN(value) == 1);
  if (!(mxIsNumeric(value) || mxIsLogical(value)) || mxIsComplex(value) || mxIsSparse(value) ||
      !vector)
    throw InputError(std::string("option '") + name + "' must be a scalar.");
  return mxGetScalar(value);
}

double option_or(const mxArray *options, const char *name, double fallback) {
  return option(options, name).value_or(fallback);
}

// 'Scale': a word of the table's choices, or true and false (minmax, none).
Scaling scale_option(const mxArray *options) {
  const Parameter &row = parameter("scale");
  const mxArray *value = mxGetField(options, 0, "Scale");
  std::optional<double> code;
  if (value == nullptr || mxIsEmpty(value)) {
    code = row.default_value;
  } else if (mxIsChar(value)) {
    code = choice_value(row, text_argument(value, "option 'Scale'"));
  } else {
    const double given = option_or(options, "Scale", row.default_value);
    if (given == 0 || given == 1) code = given;
  }
  if (!code)
    throw InputError("option 'Scale' must be true, false or one of " + allowed_text(row) +
                     " (true: minmax, false: none).");
  return static_cast<Scaling>(*code);
}

std::vector<std::string> text_option(const mxArray *options, const char *name) {
  const mxArray *value = mxGetField(options, 0, name);
  if (value == nullptr || mxIsEmpty(value)) return {};
  return texts_of(value, std::string("option '") + name + "'");
}

// The training arguments of the options, each left empty taken from `base`.
// The table's toolbox names are literals, so they end in '\0'.
TrainingParams training_options(const mxArray *options, const TrainingParams &base) {
  TrainingParams params = base;
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr) params.*row.field = option_or(options, row.toolbox.data(), base.*row.field);
  return params;
}

// The defaults for data with `varying` features that vary.
TrainingParams data_defaults(std::size_t varying) {
  return default_params(default_D(varying), training_defaults.max_presentations);
}

double whole_option(const mxArray *options, const char *name, double fallback, double most) {
  const double value = option_or(options, name, fallback);
  if (!(value >= 0 && value <= most && std::trunc(value) == value))
    throw InputError(std::string(name) + " must be a whole number" +
                     (most < 1e9 ? "" : " >= 0"));
  return value;
}

// 'MaxSamples': the rows each member of a large training draws.
double max_samples_option(const mxArray *options) {
  const Parameter &row = parameter("max_samples");
  const double value = option_or(options, "MaxSamples", row.default_value);
  if (!in_range(row.range, value)) throw InputError("MaxSamples must be " + range_text(row.range));
  return value;
}

// Voters, Seed, Shuffle, MaxFeatures, Bootstrap, OobWeights, MaxSamples and
// Screen, refused as the
// members' orders refuse them.
VotingSettings voting_options(const mxArray *options) {
  const TrainingDefaults &d = training_defaults;
  VotingSettings voting;
  voting.voters = static_cast<int>(whole_option(options, "Voters", d.voters, 1e9));
  voting.seed = static_cast<std::uint64_t>(whole_option(options, "Seed", d.seed, 9007199254740992.0));
  const double shuffle = option_or(options, "Shuffle", d.shuffle ? 1 : 0);
  if (shuffle != 0 && shuffle != 1) throw InputError("Shuffle must be true or false");
  voting.shuffle = shuffle == 1;
  voting.max_features = option_or(options, "MaxFeatures", d.max_features);
  const double bootstrap = option_or(options, "Bootstrap", d.bootstrap ? 1 : 0);
  if (bootstrap != 0 && bootstrap != 1) throw InputError("Bootstrap must be true or false");
  voting.bootstrap = bootstrap == 1;
  const double weighted = option_or(options, "OobWeights", d.oob_weights ? 1 : 0);
  if (weighted != 0 && weighted != 1) throw InputError("OobWeights must be true or false");
  voting.oob_weights = weighted == 1;
  voting.max_samples = max_samples_option(options);
  const double screen = option_or(options, "Screen", d.screen ? 1 : 0);
  if (screen != 0 && screen != 1) throw InputError("Screen must be true or false");
  voting.screen = screen == 1;
  if (!(voting.max_features > 0 && voting.max_features <= 1))
    throw InputError("MaxFeatures must lie in (0, 1]");
  check_voting(voting);
  return voting;
}

// X (N x M, as the m-files pass it after full(double(X))) and its labels.
Dataset dataset_of(const mxArray *X, const mxArray *labels) {
  Dataset data;
  data.patterns = rows_of(X, "X");
  data.labels = values_of(labels, "the labels");
  if (data.labels.size() != data.patterns.size())
    throw InputError(std::to_string(data.labels.size()) + " labels for " +
                     std::to_string(data.patterns.size()) + " patterns");
  return data;
}

ClassNames names_of_codes(const std::vector<std::string> &names) {
  ClassNames classes;
  for (std::size_t k = 0; k < names.size(); ++k)
    classes.emplace_back(static_cast<int>(k + 1), names[k]);
  return classes;
}

void say(const std::string &text) { mexPrintf("%s", text.c_str()); }

void flush_console() {
  // Octave buffers what mexPrintf prints; MATLAB has no fflush, and the
  // trapped failure costs nothing.
  if (mxArray *failure = mexEvalStringWithTrap("fflush(stdout);")) mxDestroyArray(failure);
}

// After each member but the last, once training has taken a second, on a
// terminal: "member k/K, ..., 3.4 s"; the modules' own per-presentation
// text takes its place from oflag 2 on. Cleared when training ends.
class MemberProgressLine {
 public:
  explicit MemberProgressLine(double oflag)
      : shown_(oflag < 2 && output_is_terminal()), start_(std::chrono::steady_clock::now()) {}
  ~MemberProgressLine() {
    if (width_ > 0) mexPrintf("\r%*s\r", static_cast<int>(width_), "");
  }
  MemberProgressLine(const MemberProgressLine &) = delete;
  MemberProgressLine &operator=(const MemberProgressLine &) = delete;

  void operator()(const MemberProgress &step) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (!shown_ || step.member + 1 == step.members || seconds < 1) return;
    const std::string line = progress_line(
        training_step(step.member, step.members, step.presentation, step.nodes), seconds);
    mexPrintf("\r%s%*s", line.c_str(),
              static_cast<int>(width_ > line.size() ? width_ - line.size() : 0), "");
    flush_console();
    width_ = line.size();
  }

 private:
  bool shown_;
  std::chrono::steady_clock::time_point start_;
  std::size_t width_ = 0;
};

double most_presentations(const Model &model) {
  double most = 0;
  for (const Member &member : model.members) most = std::max(most, member.list_presentations);
  return most;
}

// The advice after training, judged on the nodes this call made from the
// rows member 1 drew. A larger limit never lets contradictory patterns
// converge: their warning said so.
void training_hints(const Model &model, std::size_t made, std::size_t patterns, double limit,
                    bool limit_given, bool contradictory = false) {
  std::optional<std::string> hints[] = {
      training_hint(made, member_rows(patterns, model.voting), toolbox_option_names()),
      std::nullopt};
  if (!contradictory)
    hints[1] = presentation_limit_hint(most_presentations(model), limit, limit_given,
                                       toolbox_option_names());
  for (const auto &hint : hints)
    if (hint) say(*hint + "\n");
}

bool contradictory_patterns(const Dataset &data) {
  for (const DataWarning &warning : training_data_warnings(data.patterns, data.labels))
    if (warning.kind == "contradictory_patterns") return true;
  return false;
}

// Training at the options' settings with the library's fit or continue.
template <typename Train>
Model trained(InterpreterModules &modules, double oflag, Train train) {
  MemberProgressLine line(oflag);
  EnsembleOptions options;
  options.workers = 1;
  options.on_progress = [&line](const MemberProgress &step) { line(step); };
  try {
    return train(options);
  } catch (const NonFiniteValue &value) {
    throw InputError(non_finite_pattern_text("X", value.pattern, value.feature));
  } catch (const ModuleError &error) {
    reword(error, modules, toolbox_fit_names());
  }
}

// model = qir_gateway('fit', X, labels, options): labels are the codes of
// options.ClassNames when it names them.
void fit(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 1) throw InputError("fit takes X, the labels and the options");
  const mxArray *options = options_argument(prhs[3]);
  Dataset data = dataset_of(prhs[1], prhs[2]);
  if (data.patterns.empty()) throw InputError("X holds no patterns");
  data.class_names = names_of_codes(text_option(options, "ClassNames"));
  data.feature_names = text_option(options, "FeatureNames");
  const VotingSettings voting = voting_options(options);
  TrainingParams params = training_options(options, data_defaults(varying_features(data.patterns)));
  const bool limit_given = option(options, "MaxPresentations").has_value();
  if (!limit_given)
    params.max_presentations =
        default_max_presentations(member_rows(data.patterns.size(), voting), voting.voters);
  const double oflag = option_or(options, "Oflag", training_defaults.oflag);
  const Scaling scale = scale_option(options);
  InterpreterModules modules;
  const Model model = trained(modules, oflag, [&](const EnsembleOptions &run) {
    return fit_model(modules, data, params, scale, oflag, voting, run);
  });
  if (oflag > 0)
    training_hints(model, model.members.front().templates.size(), data.patterns.size(),
                   params.max_presentations, limit_given, contradictory_patterns(data));
  plhs[0] = model_struct(model);
}

// model = qir_gateway('continue', model, X, labels, options): labels are
// numbers, or a cell array of class names for a model with names (a known
// name keeps its label, a new one gets the next).
void continue_fit(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 5 || nlhs > 1)
    throw InputError("continue takes a model, X, the labels and the options");
  Model earlier = model_from_struct(prhs[1]);
  const mxArray *options = options_argument(prhs[4]);
  // The members' draw of rows is the training's, not the model's.
  earlier.voting.max_samples = max_samples_option(options);
  Dataset data;
  data.patterns = rows_of(prhs[2], "X");
  if (mxIsCell(prhs[3])) {
    ClassNames classes = earlier.class_names;
    data.labels = labels_of_names(texts_of(prhs[3], "the labels"), classes);
    data.class_names = std::move(classes);
  } else {
    data.labels = values_of(prhs[3], "the labels");
  }
  if (data.labels.size() != data.patterns.size())
    throw InputError(std::to_string(data.labels.size()) + " labels for " +
                     std::to_string(data.patterns.size()) + " patterns");
  const TrainingParams params = training_options(options, earlier.params);
  const double oflag = option_or(options, "Oflag", training_defaults.oflag);
  InterpreterModules modules;
  Model model = trained(modules, oflag, [&](const EnsembleOptions &run) {
    return continue_model(modules, earlier, data, params, oflag, run);
  });
  if (const auto names = text_option(options, "FeatureNames"); !names.empty())
    model.feature_names = names;
  if (oflag > 0)
    training_hints(model,
                   model.members.front().templates.size() -
                       earlier.members.front().templates.size(),
                   data.patterns.size(), params.max_presentations, true);
  plhs[0] = model_struct(model);
}

// The label qir_predict gives patterns no node classifies, by default: the
// pictures leave those cells blank.
double default_unknown_label(const Model &model) {
  std::vector<double> labels;
  for (const Member &member : model.members)
    labels.insert(labels.end(), member.labels.begin(), member.labels.end());
  return unused_label(labels);
}

// [codes, shares, classes, votes, unknown] = qir_gateway('predict', model, X, options)
void predict(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 5) throw InputError("predict takes a model, X and the options");
  const Model model = model_from_struct(prhs[1]);
  const mxArray *options = options_argument(prhs[3]);
  const PatternMatrix patterns = patterns_of(prhs[2], "X");
  const TrainingParams &p = model.params;
  const ClassifyParams params{option_or(options, "D", p.D),
                              option_or(options, "Ratio", p.ratio),
                              option_or(options, "Vigilance", p.vigilance),
                              option_or(options, "Alpha", p.alpha),
                              option_or(options, "CT", p.ct),
                              option_or(options, "UnknownLabel", default_unknown_label(model)),
                              option_or(options, "Oflag", 0)};
  InterpreterModules modules;
  VoteResult result;
  try {
    // LabelsOnly (set by qir_predict when only labels are asked for): no
    // shares, and each pattern's vote ends once it is settled.
    result = vote_on(modules, model, patterns, params,
                     option_or(options, "LabelsOnly", 0) != 0 ? VoteNeeds::labels
                                                              : VoteNeeds::everything);
  } catch (const NonFiniteValue &value) {
    throw InputError(non_finite_pattern_text("X", value.pattern, value.feature));
  } catch (const ModuleError &error) {
    reword(error, modules, toolbox_predict_names());
  }
  const std::size_t count = result.labels.size(), width = result.classes.size();
  plhs[0] = column(result.labels);
  if (nlhs > 1 && count > 0 && result.shares.empty()) {
    plhs[1] = matrix(count, 0);
  } else if (nlhs > 1) {
    plhs[1] = matrix(count, width);
    double *shares = mxGetPr(plhs[1]);
    for (std::size_t r = 0; r < count; ++r)
      for (std::size_t c = 0; c < width; ++c) shares[c * count + r] = result.shares[r * width + c];
  }
  if (nlhs > 2) plhs[2] = row(result.classes);
  if (nlhs > 3) plhs[3] = column(std::vector<double>(result.votes.begin(), result.votes.end()));
  if (nlhs > 4) plhs[4] = scalar(params.unknown_label);
}

// Cross-validation settings as qir_fit would train each fold: each training
// fold's own default D and presentation limit unless given.
CvSettings cv_settings(const mxArray *options, TrainingParams &params, std::size_t varying) {
  CvSettings settings;
  settings.folds = static_cast<int>(whole_option(options, "Folds", 5, 1e6));
  settings.voting = voting_options(options);
  settings.seed = settings.voting.seed;
  settings.scaling = scale_option(options);
  settings.workers = 1;
  params = training_options(options, data_defaults(varying));
  settings.default_D_per_fold = !option(options, "D");
  settings.default_presentations_per_fold = !option(options, "MaxPresentations");
  return settings;
}

template <typename Run>
auto evaluated(InterpreterModules &modules, Run run) {
  try {
    return run();
  } catch (const NonFiniteValue &value) {
    throw InputError(non_finite_pattern_text("X", value.pattern, value.feature));
  } catch (const ModuleError &error) {
    reword(error, modules, toolbox_fit_names());
  }
}

std::string format_text(const char *format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

// [result, fold] = qir_gateway('cv', X, labels, options): the folds'
// table unless options.Display is false.
void cv(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 1) throw InputError("cv takes X, the labels and the options");
  const mxArray *options = options_argument(prhs[3]);
  const Dataset data = dataset_of(prhs[1], prhs[2]);
  TrainingParams params;
  const CvSettings settings = cv_settings(options, params, varying_features(data.patterns));
  const bool display = option_or(options, "Display", 1) != 0;
  InterpreterModules modules;
  const CvResult result = evaluated(modules, [&] {
    return cross_validate(modules, data, params, settings, [](int) {});
  });
  std::vector<double> fold_accuracy, fold_unknown, fold_nodes, fold_seconds;
  std::size_t unknown_patterns = 0;
  for (const FoldResult &f : result.folds) {
    fold_accuracy.push_back(f.accuracy_percent());
    fold_unknown.push_back(f.unknown_percent());
    fold_nodes.push_back(static_cast<double>(f.nodes));
    fold_seconds.push_back(f.train_seconds + f.classify_seconds);
    unknown_patterns += f.unknown;
  }
  std::vector<double> fold;
  for (int k : stratified_folds(data.labels, settings.folds, settings.seed)) fold.push_back(k + 1);
  const char *names[] = {"accuracy",    "unknown",      "nodes",      "seconds",     "fold_accuracy",
                         "fold_unknown", "fold_nodes", "fold_seconds", "fold"};
  plhs[0] = checked(mxCreateStructMatrix(1, 1, sizeof names / sizeof *names, names));
  mxSetField(plhs[0], 0, "accuracy", scalar(result.accuracy_percent()));
  mxSetField(plhs[0], 0, "unknown", scalar(result.unknown_percent()));
  mxSetField(plhs[0], 0, "nodes", scalar(result.nodes()));
  mxSetField(plhs[0], 0, "seconds", scalar(result.seconds()));
  mxSetField(plhs[0], 0, "fold_accuracy", column(fold_accuracy));
  mxSetField(plhs[0], 0, "fold_unknown", column(fold_unknown));
  mxSetField(plhs[0], 0, "fold_nodes", column(fold_nodes));
  mxSetField(plhs[0], 0, "fold_seconds", column(fold_seconds));
  mxSetField(plhs[0], 0, "fold", column(fold));
  if (!display) return;
  say("Fold  Accuracy   Unknown    Nodes  Seconds\n");
  for (std::size_t k = 0; k < result.folds.size(); ++k)
    say(format_text("%-4d %8.2f%% %8.2f%% %8lld %8.3f\n", static_cast<int>(k + 1),
                    fold_accuracy[k], fold_unknown[k], static_cast<long long>(fold_nodes[k]),
                    fold_seconds[k]));
  say(format_text("Mean %8.2f%% %8.2f%% %8.1f %8.3f\n", result.accuracy_percent(),
                  result.unknown_percent(), result.nodes(),
                  result.seconds() / static_cast<double>(settings.folds)));
  if (const auto hint = classification_hint(unknown_patterns, data.patterns.size(),
                                            toolbox_option_names()))
    say(*hint + "\n");
}

const char *const setting_fields[] = {"D",     "Ratio", "Vigilance", "Alpha",
                                      "CT",    "Voters", "accuracy", "unknown",
                                      "nodes", "fold_accuracy", "gain", "gain_error"};

// The settings as a struct array; `detailed` adds each setting's per-fold
// accuracy and its gain over the defaults.
mxArray *settings_struct(const std::vector<SearchCandidate> &candidates, bool detailed) {
  const int fields = detailed ? 12 : 9;
  mxArray *out = checked(mxCreateStructMatrix(candidates.empty() ? 0 : 1, candidates.size(),
                                              fields, const_cast<const char **>(setting_fields)));
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const SearchCandidate &c = candidates[k];
    const double values[] = {c.params.D, c.params.ratio, c.params.vigilance, c.params.alpha,
                             c.params.ct, static_cast<double>(c.voting.voters),
                             c.result.accuracy_percent(), c.result.unknown_percent(),
                             c.result.nodes()};
    for (int f = 0; f < 9; ++f) mxSetField(out, k, setting_fields[f], scalar(values[f]));
    if (!detailed) continue;
    std::vector<double> accuracy;
    for (const FoldResult &fold : c.result.folds) accuracy.push_back(fold.accuracy_percent());
    mxSetField(out, k, "fold_accuracy", column(accuracy));
    mxSetField(out, k, "gain", scalar(c.gain));
    mxSetField(out, k, "gain_error", scalar(c.gain_error));
  }
  return out;
}

std::string setting_text(const SearchCandidate &c) {
  return format_text("%8.2f%% %8.2f%% %8.1f %10.4g %6g %10g %6g %3g %6d",
                     c.result.accuracy_percent(), c.result.unknown_percent(), c.result.nodes(),
                     c.params.D, c.params.ratio, c.params.vigilance, c.params.alpha, c.params.ct,
                     c.voting.voters);
}

void show_settings(const std::vector<SearchCandidate> &settings, bool with_gain) {
  say(with_gain ? "Ensembles, and their gain over the defaults (points \u00b1 standard error):\n"
                : "Screening (one shuffled member each):\n");
  say("Rank  Accuracy   Unknown    Nodes          D  Ratio  Vigilance  Alpha  CT Voters\n");
  for (std::size_t k = 0; k < settings.size(); ++k) {
    std::string text = setting_text(settings[k]);
    if (with_gain)
      text += format_text(" %+7.2f \u00b1 %.2f", settings[k].gain, settings[k].gain_error);
    say(format_text("%4d ", static_cast<int>(k + 1)) + text + "\n");
  }
}

// 'Scale' as qir_fit takes it back: true and false where they say it.
mxArray *scale_value(Scaling scaling) {
  if (scaling == Scaling::min_max || scaling == Scaling::none)
    return checked(mxCreateLogicalScalar(scaling == Scaling::min_max));
  return checked(mxCreateString(
      choice_word(parameter("scale"), static_cast<double>(scaling)).c_str()));
}

// The defaults under each scaling tried, with their 'Scale' as qir_fit takes it.
mxArray *scalings_struct(const std::vector<SearchCandidate> &scalings) {
  mxArray *out = settings_struct(scalings, true);
  if (mxAddField(out, "Scale") < 0) throw std::bad_alloc();
  for (std::size_t k = 0; k < scalings.size(); ++k)
    mxSetField(out, k, "Scale", scale_value(scalings[k].scaling));
  return out;
}

void show_scalings(const std::vector<SearchCandidate> &scalings) {
  if (scalings.empty()) return;
  say("Scalings at the defaults, and their gain over the defaults' own (points \u00b1 standard "
      "error):\n"
      " Scaling  Accuracy   Unknown    Nodes     Gain\n");
  for (const SearchCandidate &c : scalings)
    say(format_text("%8s %8.2f%% %8.2f%% %8.1f %+7.2f \u00b1 %.2f\n",
                    choice_word(parameter("scale"), static_cast<double>(c.scaling)).c_str(),
                    c.result.accuracy_percent(), c.result.unknown_percent(), c.result.nodes(),
                    c.gain, c.gain_error));
}

// [ranked, outcome, best] = qir_gateway('search', X, labels, options)
void search(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 3) throw InputError("search takes X, the labels and the options");
  const mxArray *options = options_argument(prhs[3]);
  const Dataset data = dataset_of(prhs[1], prhs[2]);
  CvSettings settings;
  settings.folds = static_cast<int>(whole_option(options, "Folds", 5, 1e6));
  settings.seed =
      static_cast<std::uint64_t>(whole_option(options, "Seed", 1, 9007199254740992.0));
  settings.scaling = scale_option(options);
  const mxArray *scale = mxGetField(options, 0, "Scale");
  const bool choose_scaling = scale == nullptr || mxIsEmpty(scale);  // not given: the search's
  settings.voting = default_voting(settings.seed);
  settings.workers = 1;
  const bool display = option_or(options, "Display", 1) != 0;
  InterpreterModules modules;
  const SearchOutcome outcome = evaluated(modules, [&] {
    return run_search(modules, data, settings, [](const std::string &) {}, {}, choose_scaling);
  });
  const SearchCandidate &chosen = outcome.chosen;
  if (display) {
    show_scalings(outcome.scalings);
    show_settings({outcome.screened.begin(),
                   outcome.screened.begin() + std::min<std::size_t>(10, outcome.screened.size())},
                  false);
    show_settings(outcome.finalists, true);
    say("def. " + setting_text(outcome.defaults) + "\n");
    say(outcome.kept_defaults
            ? "Defaults kept: no setting beats them by more than its standard error\n"
            : "Chosen: the best ensemble, which beats the defaults by more than its standard "
              "error\n");
    say(format_text("Search took %.1f s\n", outcome.seconds));
  }
  plhs[0] = settings_struct(outcome.screened, false);
  if (nlhs > 1) {
    const char *names[] = {"defaults", "finalists", "kept_defaults", "seconds", "scalings"};
    plhs[1] = checked(mxCreateStructMatrix(1, 1, 5, names));
    mxSetField(plhs[1], 0, "scalings", scalings_struct(outcome.scalings));
    mxSetField(plhs[1], 0, "defaults", settings_struct({outcome.defaults}, true));
    mxSetField(plhs[1], 0, "finalists", settings_struct(outcome.finalists, true));
    mxSetField(plhs[1], 0, "kept_defaults", checked(mxCreateLogicalScalar(outcome.kept_defaults)));
    mxSetField(plhs[1], 0, "seconds", scalar(outcome.seconds));
  }
  if (nlhs > 2) {
    const char *names[] = {"D", "Ratio", "Vigilance", "Alpha", "CT", "Voters", "Scale"};
    const double values[] = {chosen.params.D,  chosen.params.ratio,
                             chosen.params.vigilance, chosen.params.alpha,
                             chosen.params.ct, static_cast<double>(chosen.voting.voters), 0};
    // Kept defaults leave D to the data qir_fit is given.
    const std::size_t first = outcome.kept_defaults ? 1 : 0;
    plhs[2] = checked(mxCreateCellMatrix(1, 2 * (7 - first)));
    for (std::size_t k = first; k < 7; ++k) {
      mxSetCell(plhs[2], 2 * (k - first), checked(mxCreateString(names[k])));
      mxSetCell(plhs[2], 2 * (k - first) + 1,
                k == 6 ? scale_value(chosen.scaling) : scalar(values[k]));
    }
  }
}

// The pictures: the library's view, layout and SVG, so that the toolbox's
// figures and files show what the command's do. The toolbox classifies
// the layout's grid itself (qir_predict) and hands the codes back.
mxArray *rows_matrix(const std::vector<std::vector<double>> &rows, std::size_t width) {
  mxArray *out = matrix(rows.size(), width);
  double *t = mxGetPr(out);
  for (std::size_t k = 0; k < rows.size(); ++k)
    for (std::size_t j = 0; j < width; ++j) t[j * rows.size() + k] = rows[k][j];
  return out;
}

PlotPoints picture_points(const mxArray *patterns, const mxArray *codes) {
  PlotPoints data;
  data.points = rows_of(patterns, "X");
  data.labels = values_of(codes, "the labels");
  return data;
}

PictureClasses picture_class_list(const Model &model, const std::vector<double> &truth) {
  PictureClasses classes;
  classes.labels = picture_classes(model, truth);
  for (double label : classes.labels) classes.names.push_back(class_text(label, model));
  return classes;
}

mxArray *picture_layout_struct(const Model &model, const PlotPoints &data,
                               const PictureLayout &layout) {
  static const char *names[] = {"grid", "points", "nodes", "box", "columns", "rows", "x_name",
                                "y_name", "classes", "class_texts"};
  mxArray *out = checked(mxCreateStructMatrix(1, 1, 10, names));
  mxSetField(out, 0, "grid", rows_matrix(layout.grid, static_cast<std::size_t>(model.features)));
  std::vector<std::vector<double>> points, nodes;
  for (const auto &p : data.points) {
    const auto at = view_point(layout.view, model, p);
    points.push_back({at[0], at[1]});
  }
  for (const auto &row : model.members.front().templates) {
    const auto s = node_section(layout.view, model, row);
    nodes.push_back(s ? std::vector<double>{s->cx, s->cy, s->along, s->across, s->angle_degrees}
                      : std::vector<double>(5, NAN));
  }
  mxSetField(out, 0, "points", rows_matrix(points, 2));
  mxSetField(out, 0, "nodes", rows_matrix(nodes, 5));
  mxSetField(out, 0, "box", row({layout.xmin, layout.xmax, layout.ymin, layout.ymax}));
  mxSetField(out, 0, "columns", scalar(static_cast<double>(layout.columns)));
  mxSetField(out, 0, "rows", scalar(static_cast<double>(layout.rows)));
  mxSetField(out, 0, "x_name", checked(mxCreateString(layout.view.x_name.c_str())));
  mxSetField(out, 0, "y_name", checked(mxCreateString(layout.view.y_name.c_str())));
  const PictureClasses classes = picture_class_list(model, data.labels);
  mxSetField(out, 0, "classes", column(classes.labels));
  mxSetField(out, 0, "class_texts", text_cells(classes.names));
  return out;
}

void picture_layout(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 5 || nlhs > 1) throw InputError("picture_layout takes a model, X, labels and [i j]");
  const Model model = model_from_struct(prhs[1]);
  const PlotPoints data = picture_points(prhs[2], prhs[3]);
  const PictureLayout layout = plan_picture(model, data, values_of(prhs[4], "the feature pair"));
  plhs[0] = picture_layout_struct(model, data, layout);
}

void picture_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 8 || nlhs > 1)
    throw InputError("picture_svg takes a model, X, labels, a title, [i j], the grid's labels "
                     "and the unknown label");
  const Model model = model_from_struct(prhs[1]);
  const PlotPoints data = picture_points(prhs[2], prhs[3]);
  const PictureLayout layout = plan_picture(model, data, values_of(prhs[5], "the feature pair"));
  const std::string svg = render_svg(model, data, text_argument(prhs[4], "the title"), layout,
                                     values_of(prhs[6], "the grid's labels"),
                                     scalar_argument(prhs[7], "the unknown label"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

void confusion_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 6 || nlhs > 1)
    throw InputError("confusion_svg takes a model, true labels, assigned labels, the unknown "
                     "label and a title");
  const Model model = model_from_struct(prhs[1]);
  const std::vector<double> truth = values_of(prhs[2], "the true labels");
  const Scores scores = score(truth, values_of(prhs[3], "the assigned labels"),
                              scalar_argument(prhs[4], "the unknown label"));
  const std::string svg = render_confusion(scores, picture_class_list(model, truth),
                                           text_argument(prhs[5], "the title"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

void votes_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 6 || nlhs > 1)
    throw InputError("votes_svg takes a model, true labels, the vote's classes, its shares and a title");
  const Model model = model_from_struct(prhs[1]);
  const std::vector<double> truth = values_of(prhs[2], "the true labels");
  VoteResult votes;
  votes.classes = values_of(prhs[3], "the classes");
  const auto shares = rows_of(prhs[4], "the shares");
  for (const auto &r : shares) {
    if (r.size() != votes.classes.size()) throw InputError("the shares need one column per class");
    votes.shares.insert(votes.shares.end(), r.begin(), r.end());
    votes.labels.push_back(0);
  }
  const std::string svg = render_vote_shares(votes, truth, picture_class_list(model, truth),
                                             text_argument(prhs[5], "the title"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

void progress_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3 || nlhs > 1) throw InputError("progress_svg takes steps (K x 3) and a title");
  std::vector<ProgressStep> steps;
  for (const auto &r : rows_of(prhs[1], "the steps")) {
    if (r.size() != 3) throw InputError("each step is [presentations accuracy nodes]");
    steps.push_back({r[0], r[1], r[2]});
  }
  const std::string svg =
      render_progress(steps, "list presentations", text_argument(prhs[2], "the title"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

// Patterns and their labels for a picture: labels may be left empty.
Dataset picture_data(const mxArray *X, const mxArray *labels, const std::string &what) {
  Dataset data;
  data.patterns = rows_of(X, what);
  data.labels = values_of(labels, "the labels of " + what);
  if (!data.labels.empty() && data.labels.size() != data.patterns.size())
    throw InputError(std::to_string(data.labels.size()) + " labels for " +
                     std::to_string(data.patterns.size()) + " rows of " + what);
  return data;
}

// svg = qir_gateway('picture', model, what, X, labels, test_X, test_labels, title, [i j]):
// the pictures by name, as 'qir plot --show' and Python draw them, the
// members classifying (and, for progress, training) through this session's
// modules; test_X empty measures progress on X.
void picture(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 9 || nlhs > 1)
    throw InputError("picture takes a model, the picture's name, X, labels, the test X and "
                     "labels, a title and [i j]");
  const Model model = model_from_struct(prhs[1]);
  const std::string what = text_argument(prhs[2], "the picture's name");
  const Dataset data = picture_data(prhs[3], prhs[4], "X");
  const Dataset test = picture_data(prhs[5], prhs[6], "the test X");
  const std::string title = text_argument(prhs[7], "the title");
  const std::vector<double> features = values_of(prhs[8], "the feature pair");
  InterpreterModules modules;
  const std::string svg = evaluated(modules, [&] {
    return draw_picture(modules, model, what, data, test.patterns.empty() ? nullptr : &test,
                        title, features);
  });
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

// label = qir_gateway('unknown_label', model)
void unknown_label(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("unknown_label takes a model");
  plhs[0] = scalar(default_unknown_label(model_from_struct(prhs[1])));
}

using Command = void (*)(int, mxArray *[], int, const mxArray *[]);

const std::pair<const char *, Command> commands[] = {
    {"fit", fit},           {"continue", continue_fit}, {"predict", predict},
    {"cv", cv},             {"search", search},         {"read", read},
    {"write", write},       {"shapes", shapes},         {"colours", colours},
    {"is_label", is_label}, {"warnings", data_warnings}, {"stream_plan", stream},
    {"read_data", read_data}, {"parameters", parameters},
    {"picture_layout", picture_layout}, {"picture_svg", picture_svg},
    {"confusion_svg", confusion_svg}, {"votes_svg", votes_svg}, {"progress_svg", progress_svg},
    {"unknown_label", unknown_label}, {"picture", picture}};

void run(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 1) throw InputError("give an operation, such as 'fit'");
  const std::string name = text_argument(prhs[0], "the command");
  for (const auto &[known, command] : commands)
    if (name == known) return command(nlhs, plhs, nrhs, prhs);
  throw InputError("unknown operation '" + name + "'");
}

// The message of a failed call and its identifier, kept until every C++
// object of the call is gone: the host's error ends the call without
// unwinding it.
char failure[1024];
char failure_identifier[256];

}  // namespace

QIR_MODULE_ENTRY void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  failure[0] = '\0';
  std::snprintf(failure_identifier, sizeof failure_identifier, "qir_gateway:refused");
  try {
    run(nlhs, plhs, nrhs, prhs);
#ifdef HAVE_OCTAVE
  } catch (const octave::interrupt_exception &) {
    throw;  // Ctrl-C stays the interpreter's, the call's objects released
#endif
  } catch (const PassedOn &error) {
    std::snprintf(failure, sizeof failure, "%s", error.what());
    std::snprintf(failure_identifier, sizeof failure_identifier, "%s",
                  error.identifier.empty() ? "qir_gateway:module" : error.identifier.c_str());
  } catch (const std::bad_alloc &) {
    std::snprintf(failure, sizeof failure, "Not enough memory available.");
  } catch (const std::exception &error) {
    std::snprintf(failure, sizeof failure, "%s", error.what());
  }
  if (failure[0] != '\0') mexErrMsgIdAndTxt(failure_identifier, "%s", failure);
}
