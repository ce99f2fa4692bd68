#include "temp_file_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace qir {
namespace {

// Fixed storage: the handler may neither allocate nor take a lock, so it
// reads plain arrays, each slot published by its flag once the path is in.
constexpr int slot_count = 16;
constexpr std::size_t path_capacity = 4096;

char slot_paths[slot_count][path_capacity];
std::atomic<bool> slot_used[slot_count];
static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads the flags");

std::mutex registration;  // between threads that register; never in the handler

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_temp_files(int signal_number) {
  for (int k = 0; k < slot_count; ++k)
    if (slot_used[k].load()) unlink(slot_paths[k]);
  // End the process as the signal would have: default action, raised again.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  raise(signal_number);
}

void install_handlers() {
  for (int signal_number : cleanup_signals) {
    struct sigaction current {};
    sigaction(signal_number, nullptr, &current);
    if (current.sa_handler == SIG_IGN) continue;  // e.g. SIGHUP under nohup
    struct sigaction action {};
    action.sa_handler = remove_temp_files;
    sigemptyset(&action.sa_mask);
    for (int other : cleanup_signals) sigaddset(&action.sa_mask, other);
    sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

int register_temp_file(const char *path) {
  const std::size_t length = std::strlen(path);
  if (length >= path_capacity) return -1;
  const std::lock_guard<std::mutex> lock(registration);
  static const bool installed = (install_handlers(), true);
  static_cast<void>(installed);
  for (int k = 0; k < slot_count; ++k) {
    if (slot_used[k].load()) continue;
    std::memcpy(slot_paths[k], path, length + 1);
    slot_used[k].store(true);
    return k;
  }
  return -1;
}

void unregister_temp_file(int slot) {
  if (slot < 0 || slot >= slot_count) return;
  const std::lock_guard<std::mutex> lock(registration);
  slot_used[slot].store(false);
}

}  // namespace qir
