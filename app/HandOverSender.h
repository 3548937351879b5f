#pragma once

#include <string>

#include "core/HandOverBlock.h"

namespace tarn {

enum class SendResult { Taken, Refused, NotRunning };

// Hands `handOver` to the desktop program running for this user; `error` says why it was not
// taken.
SendResult SendHandOver(const HandOver& handOver, std::string& error);

}  // namespace tarn
