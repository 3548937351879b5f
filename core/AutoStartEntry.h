#pragma once

#include <string>

namespace tarn {

// The log-on start: an XDG autostart entry, autostart/tarnwell.desktop in the user's config
// folder, that runs the program with the parameter "AutoRun" when the user logs on. The program
// itself decides then whether it stays (AutoRunCheck).

// The entry's path: $XDG_CONFIG_HOME/autostart/tarnwell.desktop.
std::string AutoStartEntryPath();

// One argument of a desktop entry's Exec line, written so that the desktop's launcher reads it
// back unchanged: plain when it holds only characters without meaning there, otherwise quoted,
// with field-code percents doubled and the entry's own string escapes applied.
std::string DesktopExecArgument(const std::string& argument);

// The entry's text for the program at `executable`, its Exec value quoted as desktop entries
// require where the path holds spaces or characters the launcher would read otherwise.
std::string AutoStartEntryText(const std::string& executable);

// Writes the entry for the running program (on) or removes it (off). Raises std::runtime_error
// naming the file when it cannot be written or removed.
void SetAutoStartEntry(bool on);

}  // namespace tarn
