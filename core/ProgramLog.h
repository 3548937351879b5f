#pragma once

#include <QLocale>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "engine/TaskTypes.h"

// The program log: a text file that receives, for every task leaving the task list, a summary
// block and all the task's log records in words. Only ever appended to; lines end with "\r\n".
namespace tarn {

class TDownloadThread;
class TMsgList;
class TSettingsStorage;

// What the summary says about a task.
struct TaskSummary {
    std::string Source;
    std::string Destination;
    double Elapsed = 0;  // clean copy time, days
    int32_t FileCount = 0;
    int64_t TotalSize = 0;
    int32_t LeftOut = 0;  // items the task could not copy
};

// A task's log records in order: the one at `index` into `record`, false past the last.
using LogRecordReader = std::function<bool(int index, TMsg& record)>;

// The program log could not be written; the message names the file and gives the system's
// reason.
class ProgramLogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `text` as it may meet a terminal or a text log, where raw control bytes could move the
// cursor, recolour or retitle the window, or forge lines of the log, and bidirectional
// controls could show a name in another order than it has: the C0 bytes, DEL, the C1 controls
// as UTF-8 (0xC2 0x80 to 0xC2 0x9F), the bidirectional embeddings, overrides and isolates
// (U+202A to U+202E, U+2066 to U+2069), and every byte that is no part of a well-formed UTF-8
// character (a raw 0x9B among them) become "\xHH", one escape per byte. A backslash becomes
// "\\", so that a name holding the four characters "\x1B" reads apart from one holding ESC and
// every escaped text maps back to one original. All other characters, UTF-8 letters included,
// stay as they are.
std::string EscapeControls(const std::string& text);

// One task log record in words: its text with the "%s" placeholders filled by the parameters,
// whose message references are expanded first. A record without parameters is its text as it
// stands, "%s" included.
std::string RenderLogRecord(const TMsgList& msgs, const TMsg& record);

// The first lines of a new program log.
std::string ProgramLogHeader();
// A task's summary block followed by one line per record, the text of each line escaped
// (EscapeControls). Records whose Id begins with '#' are the engine's own bookkeeping and are
// left out.
std::string TaskSummaryText(const TMsgList& msgs, const TaskSummary& task, const LogRecordReader& records,
                            const QLocale& locale = QLocale());

// Appends the summary of a task to the program log `logFile`, creating its folder and the file
// with its header when missing. Raises ProgramLogError when the program log cannot be created
// or written; a block that failed part way is taken back.
void WriteTaskSummary(const std::string& logFile, const TMsgList& msgs, const TaskSummary& task,
                      const LogRecordReader& records);
// The same for a task leaving the list, from the records its worker holds: waits until the
// worker has ended (the caller has stopped it), then writes to the settings' LogFile.
void WriteTaskSummary(const TSettingsStorage& settings, const TMsgList& msgs, TDownloadThread& task);

}  // namespace tarn
