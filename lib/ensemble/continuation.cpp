#include "continuation.h"

#include "../base/errors.h"

namespace qir {

void check_label_kinds(bool model_has_names, bool data_has_names) {
  if (model_has_names == data_has_names) return;
  throw InputError(model_has_names ? "the model's classes are names, the data's labels are numbers"
                                   : "the model's classes are numbers, the data's labels are names");
}

}  // namespace qir
