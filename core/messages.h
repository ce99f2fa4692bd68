// Error messages of the entry points: formatted into the call's one buffer,
// always led by the module's name, and raised by the caller only after every
// module-owned object is gone.
#pragma once

#include "portability.h"
#include "interrupt.h"

#include <cstddef>
#include <cstdio>
#include <new>

namespace qir {

constexpr std::size_t message_buffer_size = 1024;
using MessageBuffer = char[message_buffer_size];

constexpr const char *memory_message_format = "%s: Not enough memory available; unable to run!";

// Formats `format` (whose first conversion is the module name) into the
// buffer. Returns false so a failing check can `return fail(...)`.
template <class... Values>
bool fail(MessageBuffer &message, const char *format, const char *module, Values... values) {
  QIR_NONLITERAL_FORMAT_BEGIN
  std::snprintf(message, message_buffer_size, format, module, values...);
  QIR_NONLITERAL_FORMAT_END
  return false;
}

// Puts the memory message into the buffer, as fail(message,
// memory_message_format, module) would, without printf's cost: every call
// prepares it.
inline void prepare_memory_message(MessageBuffer &message, const char *module) {
  static_assert(memory_message_format[0] == '%' && memory_message_format[1] == 's');
  const char *text = memory_message_format + 2;
  std::size_t n = 0;
  for (; module[n] != '\0' && n < message_buffer_size - 1; ++n) message[n] = module[n];
  for (; *text != '\0' && n < message_buffer_size - 1; ++text) message[n++] = *text;
  message[n] = '\0';
}

// Runs the work of one call. `body` returns true on success, or false after
// formatting its error. A refused allocation anywhere ends the call with
// the memory message, a stop requested by the host with the interrupted
// message. Whatever the body owned is released by the time this returns.
template <class Body>
bool run_guarded(MessageBuffer &message, const char *module, Body &&body) {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return fail(message, memory_message_format, module);
  } catch (const Interrupted &) {
    return fail(message, interrupted_message_format, module);
  }
}

}  // namespace qir
