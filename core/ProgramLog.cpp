#include "core/ProgramLog.h"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>
#include <vector>

#include "core/Globals.h"
#include "core/MessageList.h"
#include "core/Units.h"
#include "engine/GlobalUtils.h"
#include "platform/DateTime.h"
#include "platform/OsError.h"

namespace tarn {
namespace {

constexpr char LineEnd[] = "\r\n";
// The first character of the Id of a record the engine keeps for itself.
constexpr char InternalRecordMark = '#';

// A line may hold names, which may hold any byte but '/' and NUL: escaped, they can neither
// drive a terminal that shows the log nor forge a line of it.
std::string Line(const std::string& text) { return EscapeControls(text) + LineEnd; }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Bytes per second over the clean copy time, rounded to whole bytes; 0 for a task that never
// spent time copying, whose speed is unknown.
double AverageSpeed(const TaskSummary& task)
{
    const double seconds = task.Elapsed * SecondsPerDay;
    if (!(seconds > 0)) return 0;
    return std::round(static_cast<double>(task.TotalSize) / seconds);
}

// The size of the pieces a summary is written in: the summary of a task of a million logged
// files is never laid out whole.
constexpr size_t PieceSize = size_t{1} << 20;

using PieceWriter = std::function<void(const std::string& piece)>;

// Appends the block that `compose` hands to its writer piece by piece to the program log (after
// the header when the file is new), and makes it reach the disk: the task's restore files, its
// only other record, are deleted next. A failure cuts the file back to where the block began.
void AppendToProgramLog(const std::string& logFile, const std::function<void(const PieceWriter&)>& compose)
{
    const bool exists = FileExists(logFile);
    FileHandle handle = NoHandle;
    int64_t blockStart = 0;
    try {
        // The log holds every task's paths: private to the user, and never written through a link
        // planted in its place (to append to a file of the user's choosing).
        FileOpenOptions options;
        options.noFollow = true;
        options.regularOnly = exists;
        options.mode = 0600;
        handle = CreateFileChecked(logFile, FileAccess::Write,
                                   exists ? CreationMode::OpenExisting : CreationMode::CreateNew, options);
        blockStart = SeekFile(handle, 2, 0);
        const auto write = [&](const std::string& piece) {
            WriteBytes(handle, piece.data(), static_cast<int64_t>(piece.size()));
        };
        if (!exists) write(ProgramLogHeader());
        compose(write);
        if (PlatformDataSync(handle) != 0) RaiseOsError(errno);
        CloseFile(handle);
    } catch (const OsError& error) {
        if (handle != NoHandle) {
            PlatformTruncate(handle, blockStart);
            PlatformClose(handle);
        }
        FileStatus status;
        const bool link = PlatformLinkStatus(logFile, status) == 0 && status.isLink;
        throw ProgramLogError("The program log " + Quoted(logFile) + " cannot be " + (exists ? "written" : "created") +
                              ": " + (link ? std::string("it is a symbolic link, which is not followed") : error.what()));
    }
}

bool IsShown(const TMsg& record) { return record.Id.empty() || record.Id.front() != InternalRecordMark; }

// Hands a task's summary block to `write` in pieces of about PieceSize bytes.
void ComposeSummary(const TMsgList& msgs, const TaskSummary& task, const LogRecordReader& records,
                    const QLocale& locale, const PieceWriter& write)
{
    TMsg record;
    std::optional<double> first;
    double last = 0;
    for (int i = 0; records(i, record); ++i) {
        if (!IsShown(record)) continue;
        if (!first) first = record.Time;
        last = record.Time;
    }
    const auto timeText = [&](double time) { return first ? FormatDateTime(time) : msgs.GetMsg("Msg004"); };
    const ScaledValue size = ScaleSize(task.TotalSize, msgs);
    const ScaledValue speed = FormatSpeed(AverageSpeed(task), msgs);

    std::string text = LineEnd;
    text += Line(msgs.FormatMsg("Log001", {task.Source}));
    text += Line(msgs.FormatMsg("Log002", {task.Destination}));
    text += Line(msgs.FormatMsg("Log003", {timeText(first.value_or(0))}));
    text += Line(msgs.FormatMsg("Log004", {timeText(last)}));
    text += Line(msgs.FormatMsg("Log005", {FormatClockTime(task.Elapsed)}));
    text += Line(msgs.FormatMsg("Log006", {std::to_string(task.FileCount)}));
    if (task.LeftOut > 0) text += Line(msgs.FormatMsg("Log011", {std::to_string(task.LeftOut)}));
    text += Line(msgs.FormatMsg("Log007", {FormatDecimal(size.Value, locale), size.Unit}));
    text += Line(msgs.FormatMsg("Log008", {FormatDecimal(speed.Value, locale), speed.Unit}));
    for (int i = 0; records(i, record); ++i) {
        if (!IsShown(record)) continue;
        text += Line(FormatDateTime(record.Time) + " " + RenderLogRecord(msgs, record));
        if (text.size() >= PieceSize) {
            write(text);
            text.clear();
        }
    }
    write(text);
}

// The length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0 when the byte there
// begins none: a stray continuation byte, an invalid lead, or a sequence that is cut off, overlong,
// a surrogate or beyond U+10FFFF.
size_t Utf8SequenceLength(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) -> unsigned {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned low = 0x80;  // the range of the second byte, narrower after some leads
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// Characters that act on a terminal or on how a line reads rather than showing: the C1
// controls, and the bidirectional embeddings, overrides and isolates, which can make a name
// read in an order other than its bytes'.
bool IsControlCharacter(const std::string& text, size_t at, size_t length)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if (length == 2) return byte(0) == 0xC2 && byte(1) <= 0x9F;
    if (length != 3 || byte(0) != 0xE2) return false;
    return (byte(1) == 0x80 && byte(2) >= 0xAA && byte(2) <= 0xAE) ||
           (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9);
}

}  // namespace

std::string EscapeControls(const std::string& text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    const auto escape = [&](size_t from, size_t count) {
        for (size_t i = from; i < from + count; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            escaped += "\\x";
            escaped += Hex[byte >> 4];
            escaped += Hex[byte & 0xF];
        }
    };
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            // A byte outside any character: a terminal may take 0x80 to 0x9F alone as a C1
            // control (0x9B starts a control sequence as ESC [ does).
            escape(i, 1);
            ++i;
            continue;
        }
        if (byte < 0x20 || byte == 0x7F || IsControlCharacter(text, i, length))
            escape(i, length);
        else if (byte == '\\')
            escaped += "\\\\";
        else
            escaped.append(text, i, length);
        i += length;
    }
    return escaped;
}

std::string RenderLogRecord(const TMsgList& msgs, const TMsg& record)
{
    if (record.Params.empty()) return msgs.GetMsg(record.Id);
    std::vector<std::string> params;
    params.reserve(record.Params.size());
    for (const auto& param : record.Params) params.push_back(msgs.ExpandMsgRefs(param));
    return msgs.FormatMsg(record.Id, params);
}

std::string ProgramLogHeader()
{
    return Line(std::string("Log file - ") + ProgramName + " version " + std::to_string(ProgramMajorVersion) + "." +
                std::to_string(ProgramMinorVersion)) +
           Line(MakerNotice) + Line(std::string("Web: ") + MakerWebAddress) +
           Line(std::string("Support: ") + MakerSupportAddress);
}

std::string TaskSummaryText(const TMsgList& msgs, const TaskSummary& task, const LogRecordReader& records,
                            const QLocale& locale)
{
    std::string text;
    ComposeSummary(msgs, task, records, locale, [&](const std::string& piece) { text += piece; });
    return text;
}

void WriteTaskSummary(const std::string& logFile, const TMsgList& msgs, const TaskSummary& task,
                      const LogRecordReader& records)
{
    // create_directories names the component that stands in the way, which ForceDirectories cannot.
    const std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(logFile));
    std::error_code error;
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    if (error)
        throw ProgramLogError("The folder of the program log " + Quoted(folder) + " cannot be created: " +
                              error.message());
    AppendToProgramLog(logFile, [&](const PieceWriter& write) { ComposeSummary(msgs, task, records, QLocale(), write); });
}

}  // namespace tarn
