#include "app/SendFromMenu.h"

#include <chrono>
#include <thread>

#include "app/DesktopStarter.h"
#include "app/HandOverSender.h"
#include "core/SettingsStorage.h"

namespace tarn {
namespace {

// The program listens once its main window is up, which takes long on a loaded computer.
constexpr std::chrono::seconds StartWait{15};
constexpr std::chrono::milliseconds Retry{100};

}  // namespace

bool SendFromMenu(const HandOver& handOver, std::string& error)
{
    if (!TSettingsStorage().EnableContextMenu()) {
        error = "\"Copy to...\" is turned off in Tarnwell's settings (Settings > \"Enable context menu\"); nothing was "
                "sent";
        return false;
    }
    SendResult result = SendHandOver(handOver, error);
    if (result != SendResult::NotRunning) return result == SendResult::Taken;
    const std::string program = DesktopStarter::FindProgram();
    if (program.empty()) {
        error = "Tarnwell is not running, and its program tarn was found neither beside tarnctl nor on PATH";
        return false;
    }
    DesktopStarter starter;
    if (!starter.Start(program, error)) return false;
    const auto deadline = std::chrono::steady_clock::now() + StartWait;
    for (;;) {
        result = SendHandOver(handOver, error);
        if (result != SendResult::NotRunning) return result == SendResult::Taken;
        // Status 0 is a second start that found another one starting, which will take the files.
        if (int status = 0; starter.Ended(status) && status != 0) {
            error = "Tarnwell was started (" + program + ") but ended at once with exit status " +
                    std::to_string(status) + "; start it from the applications menu to see why";
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "Tarnwell was started (" + program + ") but did not take the files within " +
                    std::to_string(StartWait.count()) + " seconds; send them again once its window is open";
            return false;
        }
        std::this_thread::sleep_for(Retry);
    }
}

}  // namespace tarn
