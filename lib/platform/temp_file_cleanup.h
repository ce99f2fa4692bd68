// Temporary files that must not outlive an interrupted command: each is
// registered while it exists, and a handler for SIGINT, SIGTERM and SIGHUP
// removes every registered file before the signal ends the process as it
// would have without the handler. (kill -9 cannot be caught; nothing
// removes the file then.)
#pragma once

namespace qir {

// Registers `path` for removal on those signals, installing the handler on
// first use (a signal the process ignores stays ignored). Returns the slot
// to pass to unregister_temp_file, or -1 when every slot is taken or the
// path is too long; the file is then simply not cleaned up on a signal.
int register_temp_file(const char *path);

// The file has been renamed into place or removed: forget it.
void unregister_temp_file(int slot);

}  // namespace qir
