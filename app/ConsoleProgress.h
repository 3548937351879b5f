#pragma once

#include <cstdio>
#include <string>

#include "core/MessageList.h"

namespace tarn {

class TDownloadThread;

// The progress line of the command line on a terminal: percent, bytes, speed, time left and
// the file being copied, redrawn in place. Prints nothing when disabled or not on a terminal.
// Every line is escaped (EscapeControls): a file name must not drive the terminal.
class ConsoleProgress {
public:
    ConsoleProgress(std::FILE* out, bool enabled);
    // Redraws the line for `task`, the `number`th of `count`.
    void Show(const TDownloadThread& task, int number, int count);
    // Ends a drawn line, so that the next output starts on a line of its own.
    void Break();
    // A line of its own, after any drawn progress line.
    void Print(const std::string& line);

private:
    int Width() const;

    std::FILE* out_;
    bool enabled_;
    bool drawn_ = false;
    TMsgList msgs_;
};

}  // namespace tarn
