// Model files on disk, apart from their text so that the toolbox's module
// can take the text rules without the command's file handling.
#include "../platform/atomic_file.h"
#include "../data/csv.h"
#include "model_file.h"

namespace qir {

void save_model(const std::string &path, const Model &model) {
  write_file_atomically(path, format_model(model));
}

Model load_model(const std::string &path) { return parse_model(read_text_file(path), path); }

}  // namespace qir
