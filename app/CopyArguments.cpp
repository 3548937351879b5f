#include "app/CopyArguments.h"

#include <charconv>
#include <climits>

namespace tarn {

const char* const UsageText =
    "Usage: tarnctl copy [options] SOURCE... DESTINATION\n"
    "       tarnctl resume [--restore-dir DIR] [--quiet] [--max-errors N] [--on-exists ANSWER]\n"
    "\n"
    "copy    copies each SOURCE (a file or a folder) into the folder DESTINATION, one task\n"
    "        per source, one after another; unfinished tasks of an earlier run in the same\n"
    "        restore folder go first.\n"
    "resume  finishes the tasks a stopped, failed or killed copy left in its restore folder.\n"
    "\n"
    "Exit status: 0 when every task finished, 1 for bad usage, 2 when a task failed.\n"
    "Finished tasks leave their summary in tarn_log.txt in the restore folder.\n"
    "\n"
    "Options:\n"
    "  --restore-dir DIR     folder of the restore files (default: Restore-cli beside the\n"
    "                        program's restore folder)\n"
    "  --speed-limit BYTES   bytes per second for each task (default: no limit)\n"
    "  --buffer-size BYTES   copy buffer of each task (default: 65536)\n"
    "  --delay-on-error MS   wait before a retry after an error (default: 5000)\n"
    "  --max-errors N        more errors in a row than N fail the task (default: 60)\n"
    "  --on-exists ANSWER    overwrite, upload (resume) or skip an existing destination file\n"
    "                        (default: upload)\n"
    "  --attributes          copy permission bits and times\n"
    "  --security            copy owner, group, permissions and ACLs\n"
    "  --streams             copy extended attributes\n"
    "  --quiet               print nothing but errors\n";

namespace {

bool ParseNumber(const std::string& text, int64_t low, int64_t high, int32_t& value)
{
    int64_t parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

// Handles one option at words[i]; advances i past its value. `known` is false for no option.
bool ParseOption(const std::vector<std::string>& words, size_t& i, CopyArguments& a, bool copyOptions, bool& known,
                 std::string& error)
{
    const std::string& word = words[i];
    known = true;
    const auto value = [&](std::string& out) {
        if (i + 1 >= words.size()) {
            error = "Option " + word + " needs a value";
            return false;
        }
        out = words[++i];
        return true;
    };
    const auto number = [&](int64_t low, int32_t& out) {
        std::string text;
        if (!value(text)) return false;
        if (!ParseNumber(text, low, INT32_MAX, out)) {
            error = "Option " + word + " takes a whole number from " + std::to_string(low) + " to " +
                    std::to_string(INT32_MAX) + ", not \"" + text + "\"";
            return false;
        }
        return true;
    };
    if (word == "--restore-dir") {
        if (!value(a.RestoreDir)) return false;
        if (a.RestoreDir.empty()) {
            error = "Option --restore-dir needs a folder";
            return false;
        }
        return true;
    }
    if (word == "--quiet") {
        a.Quiet = true;
        return true;
    }
    if (word == "--max-errors") return number(0, a.MaxErrors);
    if (word == "--on-exists") {
        std::string answer;
        if (!value(answer)) return false;
        if (answer == "overwrite") {
            a.OnExists = AnswerOverwriteAll;
        } else if (answer == "upload") {
            a.OnExists = AnswerUploadAll;
        } else if (answer == "skip") {
            a.OnExists = AnswerSkipAll;
        } else {
            error = "Option --on-exists takes overwrite, upload or skip, not \"" + answer + "\"";
            return false;
        }
        return true;
    }
    if (copyOptions) {
        if (word == "--speed-limit") return number(0, a.SpeedLimit);
        if (word == "--buffer-size") return number(1, a.BufferSize);
        if (word == "--delay-on-error") return number(0, a.DelayOnError);
        if (word == "--attributes") return a.CopyAttributes = true;
        if (word == "--security") return a.CopySecurity = true;
        if (word == "--streams") return a.CopyStreams = true;
    }
    known = false;
    return true;
}

}  // namespace

bool ParseCopyArguments(const std::vector<std::string>& words, CopyArguments& a, std::string& error)
{
    std::vector<std::string> paths;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        if (!optionsEnded && words[i] == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && words[i].size() > 1 && words[i][0] == '-') {
            bool known = false;
            if (!ParseOption(words, i, a, true, known, error)) return false;
            if (!known) {
                error = "Unknown option " + words[i];
                return false;
            }
            continue;
        }
        paths.push_back(words[i]);
    }
    if (paths.size() < 2) {
        error = "Give at least one source and a destination";
        return false;
    }
    for (const auto& path : paths) {
        if (path.empty()) {
            error = "An empty path";
            return false;
        }
    }
    a.Destination = paths.back();
    paths.pop_back();
    a.Sources = std::move(paths);
    return true;
}

bool ParseResumeArguments(const std::vector<std::string>& words, CopyArguments& a, std::string& error)
{
    for (size_t i = 0; i < words.size(); ++i) {
        bool known = false;
        if (!ParseOption(words, i, a, false, known, error)) return false;
        if (!known) {
            error = "Unknown argument " + words[i];
            return false;
        }
    }
    return true;
}

}  // namespace tarn
