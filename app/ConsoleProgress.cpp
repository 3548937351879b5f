#include "app/ConsoleProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "core/ProgramLog.h"
#include "core/Units.h"
#include "engine/DownloadThread.h"

namespace tarn {

ConsoleProgress::ConsoleProgress(std::FILE* out, bool enabled) : out_(out), enabled_(enabled && ::isatty(::fileno(out)))
{
}

int ConsoleProgress::Width() const
{
    winsize size{};
    if (::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void ConsoleProgress::Show(const TDownloadThread& task, int number, int count)
{
    if (!enabled_) return;
    const int64_t total = task.GetTotalSize();
    const int64_t copied = task.GetCopiedSize();
    const int percent = total > 0 ? static_cast<int>(copied * 100 / total) : 0;
    const ScaledValue done = ScaleSize(copied, msgs_);
    const ScaledValue all = ScaleSize(total, msgs_);
    const ScaledValue speed = FormatSpeed(task.GetSpeed(), msgs_);
    std::string state;
    msgs_.GetStateName(task.GetState(), state);

    std::string line = count > 1 ? "[" + std::to_string(number) + "/" + std::to_string(count) + "] " : "";
    line += std::to_string(percent) + "%  " + FormatDecimal(done.Value) + " " + done.Unit + " of " +
            FormatDecimal(all.Value) + " " + all.Unit + "  " + FormatDecimal(speed.Value) + " " + speed.Unit + "  " +
            FormatClockTime(task.GetRemaining()) + " left  " + state + "  " + task.GetCurrentDir() +
            task.GetCurrentName();
    line = EscapeControls(line);
    const size_t width = static_cast<size_t>(Width() - 1);
    if (line.size() > width) line.resize(width);
    line.resize(width, ' ');
    std::fprintf(out_, "\r%s", line.c_str());
    std::fflush(out_);
    drawn_ = true;
}

void ConsoleProgress::Break()
{
    if (!drawn_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    drawn_ = false;
}

void ConsoleProgress::Print(const std::string& line)
{
    Break();
    std::fprintf(out_, "%s\n", EscapeControls(line).c_str());
    std::fflush(out_);
}

}  // namespace tarn
