#pragma once

#include <QIcon>

#include <cstdint>
#include <span>
#include <string_view>

// The program's own icons: one SVG each, in one style, built in as the resources
// ":/icons/NAME.svg" from data/icons/. The names say what an icon shows:
//   the program        tarnwell
//   task states        state-scanning, state-copying, state-error, state-paused,
//                      state-scheduled, state-finished
//   log levels         log-info, log-error
//   commands           new-task, start, start-all, pause, pause-all, restart, restart-all,
//                      delete, delete-all, schedule, schedule-all, skip-file, change-source,
//                      delete-finished, move-up, move-down, open-src, open-dst, global-queue,
//                      source-queue, shut-down, settings, restore-defaults, help, about, exit
//   dialogs            file-exists, file, folder, browse, clock, power, delete-task
namespace tarn {

QIcon TarnIcon(std::string_view name);
// The icon of a task state number (0 Scanning to 5 Finished); the error icon for any other.
QIcon StateIcon(uint8_t state);
// Every name above.
std::span<const char* const> IconNames();

}  // namespace tarn
