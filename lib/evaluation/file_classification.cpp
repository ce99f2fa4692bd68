#include "file_classification.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <ostream>

#include "../base/errors.h"
#include "../base/number_text.h"
#include "../ensemble/ensemble.h"
#include "../model/feature_scaling.h"
#include "../modules/fitting.h"
#include "../platform/atomic_file.h"
#include "qirhost/host.h"

namespace qir {
namespace {

// A data file with exactly as many columns as the model has features was
// most likely meant to be read without labels.
void check_label_column(const Table &table, const Model &model, const LabelSource &source) {
  if (source.kind == LabelSource::Kind::last_column &&
      table.columns() == static_cast<std::size_t>(model.features))
    throw InputError(table.path + ": " + std::to_string(model.features) +
                     " columns, as many as the model has features: without labels, give "
                     "--no-labels");
  if (table.text_labels() && model.class_names.empty() &&
      source.kind == LabelSource::Kind::last_column)
    throw InputError(table.path + ": the labels are names, but the model's classes are numbers");
}

std::string class_text(double label, const ClassNames &names) {
  const auto named = std::find_if(names.begin(), names.end(),
                                  [&](const auto &entry) { return entry.first == label; });
  return named != names.end() ? csv_cell(named->second) : format_number(label);
}

std::vector<double> labels_to_write(std::vector<double> assigned, double unknown, double written) {
  for (double &label : assigned)
    if (label == unknown) label = written;
  return assigned;
}

std::string share_header(const std::vector<double> &classes, const ClassNames &names) {
  std::string text;
  for (std::size_t c = 0; c < classes.size(); ++c)
    text += (c == 0 ? "" : ",") + class_text(classes[c], names);
  return text + "\n";
}

std::string share_rows(const VoteResult &result) {
  std::string text;
  const std::size_t width = result.classes.size();
  for (std::size_t p = 0; p < result.labels.size(); ++p) {
    for (std::size_t c = 0; c < width; ++c)
      text += (c == 0 ? "" : ",") + format_number(result.shares[p * width + c]);
    text += "\n";
  }
  return text;
}

FileClassificationResult results(const std::vector<double> &truth,
                                 const std::vector<double> &assigned, double unknown,
                                 ClassNames class_names) {
  FileClassificationResult result;
  result.patterns = assigned.size();
  result.unclassified =
      static_cast<std::size_t>(std::count(assigned.begin(), assigned.end(), unknown));
  if (!truth.empty()) result.scores = score(truth, assigned, unknown);
  result.class_names = std::move(class_names);
  return result;
}

// The whole file as one block: one qir_perf call per member.
FileClassificationResult classify_whole(ModuleRunner &runner, const Model &model,
                                        const ClassifyParams &params,
                                        const FileClassification &job, const Table &table,
                                        std::ostream &warnings) {
  check_label_column(table, model, job.source);
  Dataset data = dataset_from_table(table, job.source, job.format, model.class_names);
  if (const auto mismatch = feature_name_mismatch(model.feature_names, data))
    warnings << "Warning: " << *mismatch << "\n";
  const VoteResult voted = vote_on(runner, model, data.patterns, params,
                                   job.scores_path ? VoteNeeds::everything : VoteNeeds::labels);
  if (job.scores_path)
    write_file_atomically(*job.scores_path, format_shares(voted, model.class_names));
  if (job.labels_path)
    write_file_atomically(*job.labels_path,
                          format_labels(labels_to_write(voted.labels, params.unknown_label,
                                                        job.written_unknown),
                                        model.class_names));
  return results(data.labels, voted.labels, params.unknown_label, std::move(data.class_names));
}

std::int64_t process_ms() {
  return static_cast<std::int64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

std::string percentage_text(std::uint64_t part, std::uint64_t whole) {
  const double value =
      whole == 0 ? 0.0 : static_cast<double>(part) * 100.0 / static_cast<double>(whole);
  char text[400];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

// The first member's qir_perf summary at oflag 1 over blocks, told as the
// one call on all patterns would tell it. That member classifies with its
// nodes numbered as labels, so the winners show which nodes were active,
// and alone in the runner's module (the others in a private copy), so that
// the module's counters between its calls move only by its own work.
//
// Each call prints running totals of the module's counters: f = F + 3
// (F: operations through count_ops) and s = C + r (C: comparisons through
// count_ops, r: the call's own comparisons). Block k's work is that of its
// patterns in the one call, plus node_init's 2 operations per node (N
// nodes) made once per call; node_match's one comparison per node and
// pattern is classification's only comparison through count_ops, so C
// grows by N·P_k. The host's count of block k is h_k = 3 + (F_k − F_k-1)
// + N·P_k + r_k. So for k ≥ 2, r_k = h_k − 3 − (f_k − f_k-1) − N·P_k;
// after the last block K, C_K = s_K − r_K; and r_1 = s_1 − C_1 with
// C_1 = C_K − N·(P − P_1). The one call prints f_K − 2N(K − 1) and
// s_K + r_1 + ... + r_K-1. All modulo 2^32, as the counters wrap.
class SummaryTally {
 public:
  explicit SummaryTally(const Member &member) : member_(member), indexed_{member.templates, {}, 0, member.features} {
    for (std::size_t k = 0; k < member.labels.size(); ++k)
      indexed_.labels.push_back(static_cast<double>(k + 1));
    won_.assign(member.labels.size(), 0);
  }

  // The member's labels of the patterns; its console text is `printed`
  // (emptied first by the caller's console).
  std::vector<double> classify(ModuleRunner &runner, int features, const mxArray *patterns,
                               ClassifyParams params, const std::string &printed) {
    const double unknown = params.unknown_label;
    params.unknown_label = 0;
    const std::int64_t before = process_ms();
    if (start_ms_ < 0) start_ms_ = before;
    std::vector<double> labels = runner.classify(indexed_, features, patterns, params);
    used_ms_ += process_ms() - before;
    Call call{labels.size(), 0, 0, runner.last_call_flops()};
    unsigned long flops = 0, comparisons = 0;
    const std::size_t line = printed.rfind(" FLOPs and ");
    const std::size_t from = line == std::string::npos ? line : printed.rfind('\n', line);
    if (from == std::string::npos ||
        std::sscanf(printed.c_str() + from + 1, "%lu FLOPs and %lu comparisons", &flops,
                    &comparisons) != 2)
      throw ModuleError("qir_perf printed no summary line");
    call.flops = static_cast<std::uint32_t>(flops);
    call.comparisons = static_cast<std::uint32_t>(comparisons);
    calls_.push_back(call);
    for (double &label : labels) {
      if (label == 0) {
        label = unknown;
        ++unclassified_;
        continue;
      }
      const auto node = static_cast<std::size_t>(label) - 1;
      won_[node] = 1;
      label = static_cast<double>(static_cast<std::int32_t>(member_.labels[node]));
    }
    return labels;
  }

  std::string summary() const {
    const std::uint64_t N = won_.size();
    std::uint64_t P = 0;
    for (const Call &call : calls_) P += call.patterns;
    const auto inactive =
        static_cast<std::uint64_t>(std::count(won_.begin(), won_.end(), char{0}));
    std::string text = "\nQIR performance phase summary\n" + std::to_string(inactive) +
                       (inactive == 1 ? " inactive node detected " : " inactive nodes detected ") +
                       "(" + percentage_text(inactive, N) + "%)\n";
    if (unclassified_ > 0)
      text += "unable to classify " + std::to_string(unclassified_) + " patterns (" +
              percentage_text(unclassified_, P) + "%)\n";
    const std::int64_t seconds = (start_ms_ + used_ms_) / 1000 - start_ms_ / 1000;
    return text + std::to_string(flops()) + " FLOPs and " + std::to_string(comparisons(N, P)) +
           " comparisons in " + std::to_string(seconds) + " seconds\n\n";
  }

 private:
  struct Call {
    std::uint64_t patterns;
    std::uint32_t flops, comparisons;  // as printed
    std::int64_t host;                 // the host's count
  };

  std::uint32_t flops() const {
    const auto N = static_cast<std::uint32_t>(won_.size());
    return calls_.back().flops - 2u * N * static_cast<std::uint32_t>(calls_.size() - 1);
  }

  std::uint32_t own_comparisons(std::size_t k, std::uint64_t N) const {
    return static_cast<std::uint32_t>(calls_[k].host) - 3u -
           (calls_[k].flops - calls_[k - 1].flops) -
           static_cast<std::uint32_t>(N * calls_[k].patterns);
  }

  std::uint32_t comparisons(std::uint64_t N, std::uint64_t P) const {
    const std::size_t K = calls_.size();
    if (K == 1) return calls_.front().comparisons;
    const std::uint32_t last = own_comparisons(K - 1, N);
    const std::uint32_t counted_first = calls_.back().comparisons - last -
                                        static_cast<std::uint32_t>(N * (P - calls_[0].patterns));
    std::uint32_t total = calls_.back().comparisons + (calls_[0].comparisons - counted_first);
    for (std::size_t k = 1; k + 1 < K; ++k) total += own_comparisons(k, N);
    return total;
  }

  const Member &member_;
  Member indexed_;
  std::vector<char> won_;
  std::vector<Call> calls_;
  std::uint64_t unclassified_ = 0;
  std::int64_t start_ms_ = -1, used_ms_ = 0;
};

// The runner's console held back while blocks are classified: the text is
// kept for the tally, warnings until the whole file has been read.
class HeldConsole {
 public:
  explicit HeldConsole(ModuleRunner &runner) : runner_(runner), saved_(runner.console()) {
    runner.set_console({[this](std::string_view text) { printed += text; },
                        [this](std::string_view text) {
                          // The private copy repeats what the shared module said once.
                          if (std::find(warnings.begin(), warnings.end(), text) == warnings.end())
                            warnings.emplace_back(text);
                        }});
  }
  ~HeldConsole() { release(); }
  void release() {
    if (!released_) runner_.set_console(saved_);
    released_ = true;
  }
  HeldConsole(const HeldConsole &) = delete;
  HeldConsole &operator=(const HeldConsole &) = delete;

  std::string printed;
  std::vector<std::string> warnings;

 private:
  ModuleRunner &runner_;
  Console saved_;
  bool released_ = false;
};

// Blocks after the first of a file. The whole-file checks come after every
// row has been read, so a fault they find stops the classifying and is told
// after the last row, unless reading finds a fault of its own first.
class BlockStream {
 public:
  BlockStream(ModuleRunner &runner, const Model &model, const ClassifyParams &params,
              const FileClassification &job)
      : runner_(runner), model_(model), params_(params), job_(job),
        classes_(model_classes(model).labels), scaling_(model_scaling(model)) {
    if (job.scores_path) {
      scores_ = std::make_unique<AtomicFileWriter>(*job.scores_path);
      scores_->write(share_header(classes_, model.class_names));
    }
    if (job.labels_path) labels_ = std::make_unique<AtomicFileWriter>(*job.labels_path);
    if (params.oflag >= 1 && !model.members.empty())
      tally_ = std::make_unique<SummaryTally>(model.members.front());
  }

  void take(const Table &block) {
    if (fault_) return;
    std::optional<TableLabels> part;
    try {
      part = checked_part(block);
    } catch (const InputError &) {
      fault_ = std::current_exception();
      return;
    }
    if (job_.source.kind == LabelSource::Kind::last_column) keep_truth(block, part->labels);
    if (!feature_fault_) classify(block);
    rows_ += block.rows();
  }

  FileClassificationResult finish(std::ostream &warnings) {
    if (fault_) std::rethrow_exception(fault_);
    ClassNames class_names = model_.class_names;
    std::vector<double> truth = std::move(truth_);
    if (job_.source.kind == LabelSource::Kind::separate_file)
      truth = read_label_file(job_.source.file, rows_, job_.format, class_names);
    else if (!name_of_row_.empty())
      truth = labels_of_rows(class_names);
    if (mismatch_) warnings << "Warning: " << *mismatch_ << "\n";
    if (feature_fault_) throw InputError(*feature_fault_);
    held_.release();
    for (const std::string &warning : held_.warnings) runner_.warn(warning);
    if (tally_) runner_.print(tally_->summary());
    if (scores_) scores_->commit();
    if (labels_) labels_->commit();
    return results(truth, assigned_, params_.unknown_label, std::move(class_names));
  }

 private:
  // The block's patterns and labels, with the checks that reading the file
  // whole makes on its table (the label file is read after the last block).
  TableLabels checked_part(const Table &block) {
    if (rows_ == 0) check_label_column(block, model_, job_.source);
    LabelSource source = job_.source;
    if (source.kind == LabelSource::Kind::separate_file) source.kind = LabelSource::Kind::none;
    TableLabels part = labels_of_table(block, source, job_.format, model_.class_names);
    if (rows_ == 0) {
      mismatch_ = feature_name_mismatch(model_.feature_names, block.path, part.feature_names);
      try {
        check_feature_count(model_, part.features);
      } catch (const InputError &error) {
        feature_fault_ = error.what();
      }
    }
    return part;
  }

  // Numbers as they are; names by their first row, made labels at the end,
  // when all of them are known.
  void keep_truth(const Table &block, const std::vector<double> &labels) {
    if (!block.text_labels()) {
      truth_.insert(truth_.end(), labels.begin(), labels.end());
      return;
    }
    for (const std::string &name : block.last_text) {
      const auto [entry, added] =
          name_numbers_.emplace(name, static_cast<std::uint32_t>(names_.size()));
      if (added) names_.push_back(name);
      name_of_row_.push_back(entry->second);
    }
  }

  std::vector<double> labels_of_rows(ClassNames &class_names) const {
    const std::vector<double> of_name = labels_of_names(names_, class_names);
    std::vector<double> labels;
    labels.reserve(name_of_row_.size());
    for (std::uint32_t name : name_of_row_) labels.push_back(of_name[name]);
    return labels;
  }

  // The columns of a member that sees only some features; null otherwise.
  static qirhost::ArrayPtr member_columns(const Member &member, const double *values,
                                          std::size_t n) {
    if (member.features.empty()) return nullptr;
    auto own = qirhost::make_array(mxDOUBLE_CLASS, {n, member.features.size()});
    double *to = mxGetPr(own.get());
    for (std::size_t c = 0; c < member.features.size(); ++c)
      std::copy_n(values + member.features[c] * n, n, to + c * n);
    return own;
  }

  void classify(const Table &block) {
    const std::size_t n = block.rows();
    const auto M = static_cast<std::size_t>(model_.features);
    // Scaled straight from the rows read into the host array the modules
    // read, one array for every block of the same size.
    if (!array_ || mxGetM(array_.get()) != n) array_ = qirhost::make_array(mxDOUBLE_CLASS, {n, M});
    const qirhost::ArrayPtr &array = array_;
    double *values = mxGetPr(array.get());
    scale_rows_into_columns(block.row(0), n, M, block.width, scaling_, values, rows_);
    if (!scores_ && !tally_) {  // the labels alone: each vote ends once settled
      const VoteResult voted = classify_in_blocks(runner_, model_, {values, n, M}, params_, 0,
                                                  VoteNeeds::labels);
      write_labels(voted.labels);
      return;
    }
    std::vector<std::vector<double>> member_labels(model_.members.size());
    for (std::size_t k = 0; k < model_.members.size(); ++k) {
      const Member &member = model_.members[k];
      const auto width = static_cast<int>(member.width(model_.features));
      ClassifyParams member_params = params_;
      if (k > 0) member_params.oflag = 0;  // at oflag 1 the first member reports
      member_params.D = member_D(params_.D, member.width(model_.features), model_.features);
      const qirhost::ArrayPtr own = member_columns(member, values, n);
      const mxArray *seen = own ? own.get() : array.get();
      held_.printed.clear();
      member_labels[k] =
          k == 0 && tally_
              ? tally_->classify(runner_, width, seen, member_params, held_.printed)
              : runner_.worker(1).classify(member, width, seen, member_params);
    }
    const VoteResult voted =
        vote(member_labels, classes_, params_.unknown_label, vote_weights(model_));
    if (scores_) scores_->write(share_rows(voted));
    write_labels(voted.labels);
  }

  void write_labels(const std::vector<double> &labels) {
    if (labels_)
      labels_->write(format_labels(
          labels_to_write(labels, params_.unknown_label, job_.written_unknown),
          model_.class_names));
    assigned_.insert(assigned_.end(), labels.begin(), labels.end());
  }

  ModuleRunner &runner_;
  const Model &model_;
  const ClassifyParams &params_;
  const FileClassification &job_;
  const std::vector<double> classes_;
  const FeatureScaling scaling_;
  HeldConsole held_{runner_};
  std::unique_ptr<SummaryTally> tally_;
  qirhost::ArrayPtr array_;
  std::unique_ptr<AtomicFileWriter> scores_, labels_;
  std::exception_ptr fault_;
  std::optional<std::string> mismatch_, feature_fault_;
  std::size_t rows_ = 0;
  std::vector<double> truth_, assigned_;
  std::map<std::string, std::uint32_t> name_numbers_;
  std::vector<std::string> names_;
  std::vector<std::uint32_t> name_of_row_;
};

}  // namespace

std::string format_labels(const std::vector<double> &labels, const ClassNames &names) {
  if (names.empty()) return format_column(labels);
  // Each class's text once: many labels, few classes (told apart by their
  // bits, as -0 and 0 are written apart).
  std::vector<std::pair<std::uint64_t, std::string>> written;
  std::string text;
  for (double label : labels) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &label, sizeof bits);
    auto known = std::find_if(written.begin(), written.end(),
                              [&](const auto &entry) { return entry.first == bits; });
    if (known == written.end()) known = written.emplace(known, bits, class_text(label, names));
    text += known->second;
    text += '\n';
  }
  return text;
}

std::string format_shares(const VoteResult &result, const ClassNames &names) {
  return share_header(result.classes, names) + share_rows(result);
}

FileClassificationResult classify_file(ModuleRunner &runner, const Model &model,
                                       const ClassifyParams &params,
                                       const FileClassification &job, std::ostream &warnings) {
  const std::size_t block_rows = params.oflag >= 2 ? 0 : job.block_rows;
  CsvReader reader(job.data, job.format, job.read_size);
  Table first, next;
  reader.next(first, block_rows);
  if (block_rows == 0 || !reader.next(next, block_rows))
    return classify_whole(runner, model, params, job, first, warnings);
  BlockStream stream(runner, model, params, job);
  stream.take(first);
  first = Table();
  do stream.take(next);
  while (reader.next(next, block_rows));
  return stream.finish(warnings);
}

}  // namespace qir
