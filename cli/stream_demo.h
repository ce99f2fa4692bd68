// qir demo --stream: the digits fed as a stream, continued batch by batch
// beside a refit on all data so far.
#pragma once

#include "options.h"

namespace qir::cli {

int stream_demo(const Arguments &args);

}  // namespace qir::cli
