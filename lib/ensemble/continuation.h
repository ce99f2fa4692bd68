// The rules of going on from an earlier model, shared by every front end
// that continues one (the command's --init, the toolbox's 'Model' option,
// Python's partial_fit), so that each refuses the same batches with the
// same words.
#pragma once

namespace qir {

// Class names and numbers do not mix: a model whose classes are names takes
// batches labelled with names, a numeric one numbers. Throws InputError.
void check_label_kinds(bool model_has_names, bool data_has_names);

}  // namespace qir
