// The interface-version strings by which the host identifies a module.
// Windows builds carry them as string resources 100 and 101
// (qir_version.rc); elsewhere the module file holds them as plain data.
// Nothing reads the object at run time, so it is marked to survive the
// compiler, the linker's section garbage collection and `strip`, which
// removes symbols but not data.
#include "portability.h"

#if !defined(_WIN32)

// extern "C": one unmangled name, so the build can ask the linker for it
// by name and pull it out of the core's static library.
extern "C" QIR_KEEP const char qir_version_stamp[] =
    "MATLAB 5.1 native\0"  // string 100
    "not inlined";         // string 101

#endif
