#pragma once

#include <string>

#include "core/HandOverBlock.h"

namespace tarn {

// `tarnctl send --from-menu`, what "Copy to..." of the file managers runs: refused while the
// setting "Enable context menu" is off; when no desktop program runs, one is started and
// `handOver` is sent until it takes it. False with `error` when the files were not taken.
bool SendFromMenu(const HandOver& handOver, std::string& error);

}  // namespace tarn
