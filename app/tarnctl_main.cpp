#include <QCoreApplication>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CopyArguments.h"
#include "app/FileManagerMenus.h"
#include "app/HandOverSender.h"
#include "app/SendFromMenu.h"
#include "app/CliSession.h"
#include "app/StopSignals.h"
#include "core/ProgramLog.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"

namespace {

// A path as the desktop program, which runs elsewhere, must get it: absolute.
std::string Absolute(const std::string& path)
{
    return std::filesystem::absolute(std::filesystem::path(path)).lexically_normal().string();
}

// send [--from-menu] [--to DESTINATION] [--] SOURCE...: the files handed to the running desktop
// program.
int Send(const std::vector<std::string>& words)
{
    tarn::HandOver handOver;
    bool fromMenu = false;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        if (optionsEnded) {
            handOver.Sources.push_back(Absolute(words[i]));
        } else if (words[i] == "--") {
            optionsEnded = true;
        } else if (words[i] == "--from-menu") {
            fromMenu = true;
        } else if (words[i] == "--to" && i + 1 < words.size()) {
            handOver.Destination = Absolute(words[++i]);
        } else if (words[i] == "--to" || words[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "tarnctl: send: \"%s\" needs a value or is no option\n\n%s",
                         tarn::EscapeControls(words[i]).c_str(), tarn::UsageText);
            return tarn::ExitUsage;
        } else {
            handOver.Sources.push_back(Absolute(words[i]));
        }
    }
    if (handOver.Sources.empty()) {
        std::fprintf(stderr, "tarnctl: send: no SOURCE given\n\n%s", tarn::UsageText);
        return tarn::ExitUsage;
    }
    std::string error;
    if (fromMenu ? tarn::SendFromMenu(handOver, error) : tarn::SendHandOver(handOver, error) == tarn::SendResult::Taken)
        return tarn::ExitFinished;
    std::fprintf(stderr, "tarnctl: %s\n", tarn::EscapeControls(error).c_str());
    return tarn::ExitNotTaken;
}

// menu install | menu remove: "Copy to..." in the file managers of this user.
int Menu(const std::vector<std::string>& words)
{
    if (words.size() != 1 || (words[0] != "install" && words[0] != "remove")) {
        std::fprintf(stderr, "tarnctl: menu takes install or remove\n\n%s", tarn::UsageText);
        return tarn::ExitUsage;
    }
    tarn::FileManagerMenus menus(QString::fromStdString(tarn::TSettingsStorage().RootDir() + "file-manager"));
    return (words[0] == "install" ? menus.Install() : menus.Remove()) ? tarn::ExitFinished : tarn::ExitUsage;
}

}  // namespace

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
    if (command == "send") return Send(words);
    if (command == "menu") return Menu(words);
    std::fprintf(stderr, "tarnctl: unknown command \"%s\"\n\n%s", tarn::EscapeControls(command).c_str(),
                 tarn::UsageText);
    return tarn::ExitUsage;
}
