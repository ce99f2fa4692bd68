#include "install_location.h"

#include <unistd.h>

#include <vector>

namespace qir {
namespace {

std::string own_binary() {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return length > 0 ? std::string(buffer.data(), static_cast<std::size_t>(length)) : "";
}

std::string parent(const std::string &path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::optional<std::string> installed_folder(const std::string &relative, const std::string &file) {
  const std::string binary = own_binary();
  if (binary.empty()) return std::nullopt;
  const std::string folder = parent(parent(binary)) + "/" + relative;
  if (access((folder + "/" + file).c_str(), R_OK) != 0) return std::nullopt;
  return folder;
}

std::string bundled_data_folder() {
  return installed_folder(QIR_INSTALLED_DATA_DIR, "circle_train.csv").value_or(QIR_DEFAULT_DATA_DIR);
}

}  // namespace qir
