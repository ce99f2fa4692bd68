#include "stream_demo.h"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "qir.h"
#include "command_support.h"

namespace qir::cli {
namespace {

constexpr std::uint64_t stream_seed = 1;

Dataset rows_of(const Dataset &data, const std::vector<std::size_t> &rows) {
  Dataset part;
  for (std::size_t row : rows) {
    part.patterns.push_back(data.patterns[row]);
    part.labels.push_back(data.labels[row]);
  }
  return part;
}

void append(Dataset &to, const Dataset &more) {
  to.patterns.insert(to.patterns.end(), more.patterns.begin(), more.patterns.end());
  to.labels.insert(to.labels.end(), more.labels.begin(), more.labels.end());
}

template <class Work>
double seconds_of(Work &&work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double accuracy(ModuleRunner &runner, const Model &model, const Dataset &test) {
  const double unknown = unused_label(model_classes(model).labels);
  const TrainingParams &p = model.params;
  const ClassifyParams classify{p.D, p.ratio, p.vigilance, p.alpha, p.ct, unknown, 0};
  return score(test.labels, apply_model(runner, model, test.patterns, classify), unknown)
      .accuracy_percent();
}

struct BatchFigures {
  std::size_t seen = 0, nodes = 0, alone_nodes = 0;
  double continued = 0, refit = 0;                          // test accuracy, %
  double continued_s = 0, alone_s = 0, refit_s = 0;        // training seconds
};

std::string row_text(std::size_t batch, const BatchFigures &f) {
  char text[160];
  std::snprintf(text, sizeof text, "%5zu %6zu %6zu  %8.1f%% %9.3f %10.3f  %6.1f%% %9.3f\n",
                batch, f.seen, f.nodes, f.continued, f.continued_s, f.alone_s, f.refit,
                f.refit_s);
  return text;
}

LineChart stream_chart(const std::vector<BatchFigures> &figures, const StreamPlan &plan,
                       std::size_t test_size) {
  LineChart chart;
  chart.title = "QIR stream demo: digits in " + std::to_string(figures.size()) +
                " batches, test accuracy and training time after each";
  chart.x_label = "batch";
  ChartLine continued{"continued (--init, one batch at a time)", {}, false};
  ChartLine refit{"refit on all data so far", {}, true};
  ChartLine continued_s = continued, refit_s = refit;
  ChartLine alone_s{"fit on the batch alone", {}, true};
  for (std::size_t b = 0; b < figures.size(); ++b) {
    chart.x.push_back(static_cast<double>(b + 1));
    continued.y.push_back(figures[b].continued);
    refit.y.push_back(figures[b].refit);
    continued_s.y.push_back(figures[b].continued_s);
    refit_s.y.push_back(figures[b].refit_s);
    alone_s.y.push_back(figures[b].alone_s);
  }
  chart.panels = {{"Accuracy on " + std::to_string(test_size) + " test patterns",
                   "accuracy (%)", {continued, refit}, false},
                  {"Training time", "seconds", {continued_s, refit_s, alone_s}, true}};
  chart.marker_x = static_cast<double>(plan.late_batch + 1);
  chart.marker_text = "class " + format_number(plan.late_class) + " appears";
  return chart;
}

}  // namespace

int stream_demo(const Arguments &args) {
  const std::string folder = args.text("--data").value_or(bundled_data_folder());
  const std::string output = args.text("--output").value_or("qir-stream.svg");
  const double batches_wanted = args.number("--batches", 10);
  if (!(batches_wanted >= 1 && batches_wanted <= 1000 &&
        batches_wanted == static_cast<int>(batches_wanted)))
    throw UsageError("option --batches takes a whole number from 1 to 1000");
  const Dataset data = load_dataset(folder + "/digits.csv", {});
  const StreamPlan plan = stream_plan(data.labels, static_cast<int>(batches_wanted), stream_seed);
  const Dataset test = rows_of(data, plan.test);
  // Each fit takes the defaults for its own data, as a user's would; the
  // continued model keeps the first batch's.
  const VotingSettings voting = default_voting(stream_seed);
  const auto defaults_for = [&voting](const Dataset &d) {
    return training_params(Arguments{},
                           {varying_features(d.patterns), d.patterns.size(), voting.voters});
  };
  const Dataset first_batch = rows_of(data, plan.batches.front());
  const TrainingParams params = defaults_for(first_batch);
  std::cout << "QIR stream demo: " << data.path << " in " << plan.batches.size()
            << " batches, class " << format_number(plan.late_class) << " from batch "
            << plan.late_batch + 1 << " on; " << test.labels.size()
            << " patterns kept for testing\nParameters: " << parameter_text(params, Scaling::min_max)
            << ", " << voting.voters << " voters\n"
            << "Batch   Seen  Nodes  Continued  Time (s)  Alone (s)   Refit  Time (s)\n";
  ModuleRunner runner = make_runner(args);
  runner.set_console({[](std::string_view) {}, {}});  // the table says it all

  // Loads the members' module copies first, so that no time below includes it.
  fit_model(runner, first_batch, params, true, 0, voting);
  Model model;
  Dataset seen;
  std::vector<BatchFigures> figures;
  for (std::size_t b = 0; b < plan.batches.size(); ++b) {
    const Dataset batch = rows_of(data, plan.batches[b]);
    append(seen, batch);
    BatchFigures f;
    f.seen = seen.labels.size();
    f.continued_s = seconds_of([&] {
      model = b == 0 ? fit_model(runner, batch, params, true, 0, voting)
                     : continue_model(runner, model, batch, params, 0);
    });
    Model alone, refit;
    const TrainingParams alone_params = defaults_for(batch), refit_params = defaults_for(seen);
    f.alone_s =
        seconds_of([&] { alone = fit_model(runner, batch, alone_params, true, 0, voting); });
    f.refit_s =
        seconds_of([&] { refit = fit_model(runner, seen, refit_params, true, 0, voting); });
    f.nodes = model.total_nodes();
    f.alone_nodes = alone.total_nodes();
    f.continued = accuracy(runner, model, test);
    f.refit = accuracy(runner, refit, test);
    std::cout << row_text(b + 1, f) << std::flush;
    figures.push_back(f);
  }
  const BatchFigures &last = figures.back();
  char summary[200];
  std::snprintf(summary, sizeof summary,
                "After the last batch: continued %.1f%%, one fit on all %zu patterns %.1f%% "
                "(%.1f points apart)\n",
                last.continued, last.seen, last.refit, last.refit - last.continued);
  std::cout << summary;
  write_file_atomically(output, render_line_chart(stream_chart(figures, plan, test.labels.size())));
  std::cout << "Picture written to " << output << "\n";
  return 0;
}

}  // namespace qir::cli
