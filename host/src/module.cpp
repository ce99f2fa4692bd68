// Loading modules. RTLD_LOCAL keeps each module's symbols, and so its
// module-wide state, to itself; unloading on destruction really unloads it.
// Windows DLLs keep their symbols to themselves anyway.
#include "qirhost/host.h"

#include <iterator>
#include <map>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <stdexcept>
#include <string>

namespace qirhost {
namespace {

#if defined(_WIN32)
void *open_library(const std::string &path) { return LoadLibraryA(path.c_str()); }
void *find_entry(void *library) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), "mexFunction"));
}
void close_library(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }
std::string last_load_error() { return "error " + std::to_string(GetLastError()); }
#else
void *open_library(const std::string &path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void *find_entry(void *library) {
  dlerror();
  return dlsym(library, "mexFunction");
}
void close_library(void *library) { dlclose(library); }
std::string last_load_error() {
  const char *text = dlerror();
  return text != nullptr ? text : "unknown error";
}
#endif

struct LibraryCloser {
  void operator()(void *handle) const { close_library(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// Loading one file twice hands back the same library, with one copy of its
// module-wide state, so the lock belongs to the library, not the Module.
std::shared_ptr<std::mutex> lock_of_library(void *library) {
  struct Registry {
    std::mutex lock;
    std::map<void *, std::weak_ptr<std::mutex>> locks;
  };
  static auto *registry = new Registry;  // never destroyed: Modules may outlive statics
  const std::lock_guard<std::mutex> guard(registry->lock);
  for (auto it = registry->locks.begin(); it != registry->locks.end();)
    it = it->second.expired() ? registry->locks.erase(it) : std::next(it);
  std::weak_ptr<std::mutex> &slot = registry->locks[library];
  std::shared_ptr<std::mutex> lock = slot.lock();
  if (!lock) {
    lock = std::make_shared<std::mutex>();
    slot = lock;
  }
  return lock;
}

}  // namespace

Module::Module(const std::string &path) : path_(path) {
  LibraryHandle library(open_library(path));
  if (!library) throw std::runtime_error("cannot load module: " + last_load_error());
  void *entry = find_entry(library.get());
  if (entry == nullptr)
    throw std::runtime_error("no mexFunction in " + path + ": " + last_load_error());
  entry_ = reinterpret_cast<Entry>(entry);
  call_lock_ = lock_of_library(library.get());
  handle_ = library.release();
}

Module::~Module() { LibraryHandle unload(handle_); }

CallResult Module::call(int nlhs, const std::vector<const mxArray *> &inputs,
                        const CallOptions &options) const {
  // MATLAB never passes a null input, so no module tests for one: an
  // empty array stands for nothing.
  for (std::size_t k = 0; k < inputs.size(); ++k)
    if (inputs[k] == nullptr)
      throw std::invalid_argument("input " + std::to_string(k + 1) + " of the call to " + path_ +
                                  " is a null pointer, not an array (pass an empty array "
                                  "for nothing)");
  std::vector<const mxArray *> prhs = inputs;  // the entry takes a mutable array of pointers
  const std::lock_guard<std::mutex> serialised(*call_lock_);
  return run_call(
      nlhs,
      [&](mxArray **plhs) { entry_(nlhs, plhs, static_cast<int>(prhs.size()), prhs.data()); },
      options);
}

}  // namespace qirhost
