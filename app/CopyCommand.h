#pragma once

#include <memory>
#include <string>

#include "app/ConsoleProgress.h"
#include "app/CopyArguments.h"
#include "core/MessageList.h"

namespace tarn {

class TDownloadThread;

// Exit statuses of tarnctl.
enum ExitStatus : int {
    ExitFinished = 0,     // every task finished
    ExitUsage = 1,        // bad usage
    ExitTaskFailed = 2,   // a task failed or could not be made
};

// `tarnctl copy`: one task per source, run one after another through the copy engine.
class CopyCommand {
public:
    explicit CopyCommand(CopyArguments arguments);
    int Run();

private:
    enum class Outcome { Finished, Failed, Stopped };
    // Drives one task until it finishes, fails or a signal stops it.
    Outcome Watch(TDownloadThread& task, int number, int count);
    void ReportNewErrors(const TDownloadThread& task, int& shown);
    void Error(const std::string& text);

    CopyArguments arguments_;
    std::string restoreDir_;
    TMsgList msgs_;
    ConsoleProgress progress_;
};

// The default restore folder of the command line: "Restore-cli/" beside the program's own.
std::string DefaultCliRestoreDir();

}  // namespace tarn
