// The modules refuse an argument by its position ("QIR_TRAIN: 4th input
// argument (ratio) must be in (0.0, 1.0]."), which suits a direct module
// call. A front end whose user passed X, y and named options rewords the
// refusal with the names that user wrote.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qir {

// What a front end's user calls each module argument, in the module's order.
using ArgumentNames = std::vector<std::string>;
const ArgumentNames &toolbox_fit_names();      // qir_train's arguments as qir_fit takes them
const ArgumentNames &toolbox_predict_names();  // qir_perf's as qir_predict takes them

// `message`, a module's refusal of one argument (led by anything, such as
// the host's "qir_train: "), with that argument called by `names`; nullopt
// for any other message (an interrupt, the memory message).
std::optional<std::string> refusal_in_user_terms(const std::string &message,
                                                 const ArgumentNames &names);

// `text` with the pattern row it names ("at row R,") given as rows[R-1]:
// for patterns that reached the module in another order (an ensemble
// member's), so the user reads the row of the data they passed. Other texts
// pass unchanged.
std::string with_row_renumbered(const std::string &text, const std::vector<std::size_t> &rows);

// The refusal of a pattern value that is not finite, in the modules' words,
// for patterns the user calls `name` (rows and columns from 1).
std::string non_finite_pattern_text(const std::string &name, std::size_t row, std::size_t column);

}  // namespace qir
