// The qir subcommands. Each takes the words after its name and returns the
// process exit status; failures are thrown as the errors of errors.h.
#pragma once

#include <string>
#include <vector>

namespace qir::cli {

using Words = std::vector<std::string>;

int train_command(const Words &args);
int classify_command(const Words &args);
int plot_command(const Words &args);
int demo_command(const Words &args);
int cv_command(const Words &args);
int search_command(const Words &args);

}  // namespace qir::cli
