// Where an installed qir finds its modules and data: beside its own
// binary (<prefix>/bin/qir, <prefix>/lib/qir, <prefix>/share/qir/data), so
// an installation works from any prefix.
#pragma once

#include <optional>
#include <string>

namespace qir {

// The folder <prefix>/`relative` for the prefix that holds the running
// binary, when that folder holds `file`; nothing otherwise (as in a build
// tree).
std::optional<std::string> installed_folder(const std::string &relative, const std::string &file);

// The bundled data sets: installed beside the binary, else the source tree's.
std::string bundled_data_folder();

}  // namespace qir
