#include <QCoreApplication>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CopyArguments.h"
#include "app/CliSession.h"
#include "app/StopSignals.h"
#include "core/ProgramLog.h"
#include "core/Units.h"

// tarnctl: the copy engine on the command line.
int main(int argc, char* argv[])
{
    std::setlocale(LC_ALL, "");
    // Qt Core gives the settings and the user's locale; no event loop runs.
    QCoreApplication app(argc, argv);
    tarn::UseLocaleDateTimeFormat();
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        std::fputs(tarn::UsageText, words.empty() ? stderr : stdout);
        return words.empty() ? tarn::ExitUsage : tarn::ExitFinished;
    }
    if (words[0] == "--version") {
        std::puts(tarn::VersionText().c_str());
        return tarn::ExitFinished;
    }
    const std::string command = words[0];
    words.erase(words.begin());
    tarn::CopyArguments arguments;
    std::string error;
    if (command == "copy") {
        if (!tarn::ParseCopyArguments(words, arguments, error)) {
            std::fprintf(stderr, "tarnctl: %s\n\n%s", tarn::EscapeControls(error).c_str(), tarn::UsageText);
            return tarn::ExitUsage;
        }
        tarn::InstallStopSignals();
        return tarn::CliSession(arguments).Copy();
    }
    if (command == "resume") {
        if (!tarn::ParseResumeArguments(words, arguments, error)) {
            std::fprintf(stderr, "tarnctl: %s\n\n%s", tarn::EscapeControls(error).c_str(), tarn::UsageText);
            return tarn::ExitUsage;
        }
        tarn::InstallStopSignals();
        return tarn::CliSession(arguments).Resume();
    }
    std::fprintf(stderr, "tarnctl: unknown command \"%s\"\n\n%s", tarn::EscapeControls(command).c_str(),
                 tarn::UsageText);
    return tarn::ExitUsage;
}
