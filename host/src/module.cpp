// Loading modules. RTLD_LOCAL keeps each module's symbols, and so its
// module-wide state, to itself; dlclose on destruction really unloads it.
#include "qirhost/host.h"

#include <dlfcn.h>

#include <stdexcept>

namespace qirhost {
namespace {

struct LibraryCloser {
  void operator()(void *handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

std::string last_load_error() {
  const char *text = dlerror();
  return text != nullptr ? text : "unknown error";
}

}  // namespace

Module::Module(const std::string &path) : path_(path) {
  LibraryHandle library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library) throw std::runtime_error("cannot load module: " + last_load_error());
  dlerror();
  void *entry = dlsym(library.get(), "mexFunction");
  if (entry == nullptr)
    throw std::runtime_error("no mexFunction in " + path + ": " + last_load_error());
  entry_ = reinterpret_cast<Entry>(entry);
  handle_ = library.release();
}

Module::~Module() { LibraryHandle unload(handle_); }

CallResult Module::call(int nlhs, const std::vector<const mxArray *> &inputs,
                        const CallOptions &options) const {
  std::vector<const mxArray *> prhs = inputs;  // the entry takes a mutable array of pointers
  const std::lock_guard<std::mutex> serialised(call_lock_);
  return run_call(
      nlhs,
      [&](mxArray **plhs) { entry_(nlhs, plhs, static_cast<int>(prhs.size()), prhs.data()); },
      options);
}

}  // namespace qirhost
