// Entry point of qir_train: the argument checks, the conversions in, the
// training run, and the three results handed back.
#include "marshal.h"
#include "messages.h"
#include "mex_api.h"
#include "node.h"
#include "run_training.h"
#include "train_arguments.h"

#include <optional>

namespace {

enum Output { TEMPLATES = 0, NLABELS = 1, NUM_LIST_PRESENTATIONS = 2 };
constexpr int num_outputs = 3;

// The result slots filled so far. A call that fails after filling some
// destroys them again, so it leaves nothing behind.
class ResultSlots {
 public:
  explicit ResultSlots(mxArray *plhs[]) : plhs_(plhs) {}
  ~ResultSlots() {
    if (kept_) return;
    for (int i = 0; i < num_outputs; ++i) {
      mxDestroyArray(plhs_[i]);
      plhs_[i] = nullptr;
    }
  }
  ResultSlots(const ResultSlots &) = delete;
  ResultSlots &operator=(const ResultSlots &) = delete;

  void store(Output slot, mxArray *array) { plhs_[slot] = array; }
  void keep() { kept_ = true; }

 private:
  mxArray **plhs_;
  bool kept_ = false;
};

// Copies the inputs, trains and fills the result slots. False when a
// conversion gives no array; the buffer holds the memory message then.
bool train(const qir::TrainArguments &args, const mxArray *const prhs[], mxArray *plhs[]) {
  std::int32_t N = args.N;
  std::int32_t M = args.M;
  std::optional<qir::HostRows> patterns = qir::mxArray2D_to_cArray2D(N, M, prhs[qir::TRAIN_PATTERNS]);
  if (!patterns) return false;
  std::optional<qir::HostVector> labels = qir::mxArray1D_to_cArray1D(N, prhs[qir::TRAIN_PLABELS]);
  if (!labels) return false;
  // The nodes to continue from, when given.
  std::optional<qir::HostRows> given_rows;
  std::optional<qir::HostVector> given_labels;
  qir::GivenNodes given;
  if (args.num_given > 0) {
    std::int32_t rows = 0;
    std::int32_t width = 0;
    given_rows = qir::mxArray2D_to_cArray2D(rows, width, prhs[qir::TRAIN_TEMPLATES]);
    if (!given_rows) return false;
    given_labels = qir::mxArray1D_to_cArray1D(rows, prhs[qir::TRAIN_NLABELS]);
    if (!given_labels) return false;
    given = qir::GivenNodes{rows, given_rows->data(), given_labels->data.get()};
  }

  std::int32_t num_templates = 0;
  std::int32_t num_list_presentations = 0;
  qir::HostRows template_rows;
  qir::HostVector template_labels;
  qir::run_training(N, M, patterns->data(), labels->data.get(), given, args.D, args.ratio,
                    args.vigilance, args.alpha, args.learning_rate, args.max_list_presentations,
                    args.trim_option, args.ct_option, num_templates, template_rows,
                    template_labels, num_list_presentations, args.oflag);

  ResultSlots results(plhs);
  results.store(TEMPLATES, qir::cArray2D_to_mxArray2D(num_templates, qir::template_width(M),
                                                      template_rows));
  results.store(NLABELS, qir::cArray1D_to_mxArray1D(num_templates, template_labels));
  qir::HostVector count{qir::host_calloc<double>(1), 1};
  count.data[0] = static_cast<double>(num_list_presentations);
  results.store(NUM_LIST_PRESENTATIONS, qir::cArray1D_to_mxArray1D(1, count));
  results.keep();
  return true;
}

// The whole call short of raising its error. Everything it owned is
// released by the time it returns.
bool train_call(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[],
                qir::MessageBuffer &message) {
  qir::TrainArguments args;
  if (!qir::check_train_arguments(nlhs, nrhs, prhs, args, message)) return false;
  qir::prepare_memory_message(message, qir::train_module_name);
  return qir::run_guarded(message, qir::train_module_name,
                          [&] { return train(args, prhs, plhs); });
}

}  // namespace

QIR_MODULE_ENTRY void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  qir::MessageBuffer message;
  if (!train_call(nlhs, plhs, nrhs, prhs, message)) mexErrMsgTxt(message);
}
