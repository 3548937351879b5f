#include "windows/Icons.h"

#include <QString>

namespace tarn {
namespace {

constexpr const char* Names[] = {
    "tarnwell",
    "state-scanning", "state-copying", "state-error", "state-paused", "state-scheduled", "state-finished",
    "log-info", "log-error",
    "new-task", "start", "start-all", "pause", "pause-all", "restart", "restart-all", "delete", "delete-all",
    "schedule", "schedule-all", "skip-file", "change-source", "delete-finished", "move-up", "move-down",
    "open-src", "open-dst", "global-queue", "source-queue", "shut-down", "settings", "restore-defaults", "help",
    "about", "exit",
    "file-exists", "file", "folder", "browse", "clock", "power", "delete-task",
};

}  // namespace

QIcon TarnIcon(std::string_view name)
{
    return QIcon(QStringLiteral(":/icons/") + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
                 QStringLiteral(".svg"));
}

QIcon StateIcon(uint8_t state)
{
    static constexpr const char* States[] = {"state-scanning", "state-copying", "state-error",
                                             "state-paused",   "state-scheduled", "state-finished"};
    return TarnIcon(state < std::size(States) ? States[state] : "state-error");
}

std::span<const char* const> IconNames() { return Names; }

}  // namespace tarn
