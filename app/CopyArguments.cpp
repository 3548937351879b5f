#include "app/CopyArguments.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <limits>

namespace tarn {

const char* const UsageText =
    "Usage: tarnctl copy [options] SOURCE... DESTINATION\n"
    "       tarnctl resume [--restore-dir DIR] [--speed-limit BYTES] [--quiet] [--max-errors N]\n"
    "                      [--on-exists ANSWER] [--save-interval MS]\n"
    "       tarnctl send [--from-menu] [--to DESTINATION] [--] SOURCE...\n"
    "       tarnctl menu install | remove\n"
    "       tarnctl --help | --version\n"
    "\n"
    "copy    copies each SOURCE (a file or a folder) into the folder DESTINATION, one task\n"
    "        per source, one after another. Every source is checked first: one that does not\n"
    "        exist, is no file or folder, would be copied onto itself or into itself, or has\n"
    "        the same name as another SOURCE stops the command before anything is copied, as\n"
    "        does a DESTINATION that is a file. A SOURCE ending in /.. or /. is the folder it\n"
    "        leads to, copied under that folder's own name.\n"
    "        Unfinished tasks of earlier runs in the same restore folder are left for resume.\n"
    "resume  finishes the tasks that stopped, failed or killed copies left in their restore\n"
    "        folder; --speed-limit then applies to every task it resumes.\n"
    "send    hands the SOURCEs to the desktop program running for you: with --to they are\n"
    "        copied there at once, without it its new-task dialog asks. Exit status 3 when\n"
    "        it does not run or did not take them (its dialog for an earlier send is open).\n"
    "        --from-menu is what the file managers' \"Copy to...\" runs: refused while the\n"
    "        setting \"Enable context menu\" is off; it starts the program when none runs.\n"
    "menu    install puts \"Copy to...\" in the right-click menus of Nautilus (under Scripts),\n"
    "        Thunar and Dolphin for you, beside your own Thunar actions; remove takes it out.\n"
    "\n"
    "The last line counts the files copied, skipped as existing and left out. Exit status: 0\n"
    "when every task did all it was asked, 1 for bad usage or a source or destination that\n"
    "cannot be copied, 2 when a task failed, finished without some items or without\n"
    "attributes or security it was to copy, or could not be restored. Finished tasks leave\n"
    "their summary in tarn_log.txt in the restore folder.\n"
    "\n"
    "Options:\n"
    "  --restore-dir DIR     folder of the restore files (default: Restore-cli beside the\n"
    "                        program's restore folder); it must be your own and writable\n"
    "                        by you alone, not a link, or it is refused\n"
    "  --speed-limit BYTES   bytes per second for each task; 0 is no limit (the default)\n"
    "  --buffer-size BYTES   copy buffer of each task, 1 to 64M (default: 64K)\n"
    "  --delay-on-error MS   wait before a retry after an error (default: 5000)\n"
    "  --max-errors N        more errors in a row than N fail the task (default: 60)\n"
    "  --save-interval MS    save each task's position at most every MS milliseconds;\n"
    "                        after a crash at most that much is copied again (default: 15000)\n"
    "  --on-exists ANSWER    overwrite, upload (resume) or skip an existing destination file\n"
    "                        (default: upload)\n"
    "  --attributes          copy permission bits and times\n"
    "  --security            copy owner, group, permissions and ACLs; pipes, sockets and\n"
    "                        devices inside a SOURCE folder are made anew (devices only as\n"
    "                        root), where without it they are left out\n"
    "  --streams             copy extended attributes, and remove those a destination file\n"
    "                        or folder has that its source has not\n"
    "  --verify              read each copied file back from the disk and compare it with\n"
    "                        its source; one that differs is copied again\n"
    "  --links               copy a symbolic link inside a SOURCE folder as a link with the\n"
    "                        same target text, relative or absolute, dangling or not (the\n"
    "                        default); links whose target lies outside the copied folder\n"
    "                        are counted in the task's summary\n"
    "  --follow-links        copy what such a link points to instead; a SOURCE that is\n"
    "                        itself a link is always followed\n"
    "  --hard-links          make further names of one file inside a SOURCE hard links to\n"
    "                        its first copy (the default with --attributes or --security)\n"
    "  --no-hard-links       copy each name of a file as a file of its own\n"
    "  --quiet               print nothing but errors\n"
    "\n"
    "BYTES is a whole number, optionally followed by K, M or G (1024-based): 500K, 10M, 4MiB.\n";

std::string VersionText()
{
    return "tarnctl " + std::to_string(ProgramMajorVersion) + "." + std::to_string(ProgramMinorVersion);
}

bool ParseByteCount(const std::string& text, int64_t& value)
{
    const char* const end = text.data() + text.size();
    uint64_t number = 0;
    const auto [rest, ec] = std::from_chars(text.data(), end, number);
    if (rest == text.data() || (ec != std::errc() && ec != std::errc::result_out_of_range)) return false;
    int shift = 0;
    if (rest != end) {
        const auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
        const std::string suffix(rest, end);
        const size_t unit = std::string("kmg").find(lower(suffix[0]));
        if (unit == std::string::npos) return false;
        shift = 10 * static_cast<int>(unit + 1);
        std::string tail;
        for (size_t i = 1; i < suffix.size(); ++i) tail += lower(suffix[i]);
        if (!tail.empty() && tail != "b" && tail != "ib") return false;
    }
    constexpr uint64_t Largest = std::numeric_limits<int64_t>::max();
    value = ec != std::errc() || number > (Largest >> shift) ? INT64_MAX : static_cast<int64_t>(number << shift);
    return true;
}

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
    const auto bytes = [&](int64_t& out) {
        std::string text;
        if (!value(text)) return false;
        if (!ParseByteCount(text, out)) {
            error = "Option " + word + " takes a whole number of bytes, optionally with K, M or G (500K, 10M), not \"" +
                    text + "\"";
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
    if (word == "--save-interval") return number(1, a.SaveInterval);
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
    if (word == "--speed-limit") {
        int64_t limit = 0;
        if (!bytes(limit)) return false;
        if (limit > INT32_MAX) {
            error = "Option --speed-limit takes at most " + std::to_string(INT32_MAX) +
                    " bytes per second (0 is no limit), not \"" + words[i] + "\"";
            return false;
        }
        a.SpeedLimit = limit == 0 ? CopyArguments::NoSpeedLimit : static_cast<int32_t>(limit);
        a.SpeedLimitGiven = true;
        return true;
    }
    if (copyOptions) {
        if (word == "--buffer-size") {
            int64_t size = 0;
            if (!bytes(size)) return false;
            if (size < MinBufferSize || size > MaxBufferSize) {
                error = "Option --buffer-size takes " + std::to_string(MinBufferSize) + " to " +
                        std::to_string(MaxBufferSize) + " bytes (" + std::to_string(MaxBufferSize >> 20) +
                        "M), not \"" + words[i] + "\"";
                return false;
            }
            a.BufferSize = static_cast<int32_t>(size);
            return true;
        }
        if (word == "--delay-on-error") return number(0, a.DelayOnError);
        if (word == "--attributes") return a.Options.CopyAttributes = true;
        if (word == "--security") return a.Options.CopySecurity = true;
        if (word == "--streams") return a.Options.CopyStreams = true;
        if (word == "--verify") return a.Options.VerifyCopies = true;
        if (word == "--links" || word == "--follow-links") {
            a.Options.CopyLinksAsLinks = word == "--links";
            return true;
        }
        if (word == "--hard-links" || word == "--no-hard-links") {
            a.HardLinks = word == "--hard-links";
            return true;
        }
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
    a.Options.KeepHardLinks = a.HardLinks.value_or(a.Options.CopyAttributes || a.Options.CopySecurity);
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
