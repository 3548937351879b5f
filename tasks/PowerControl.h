#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace tarn {

// Turns the computer off once every task is done. The scheduler holds this interface, so its
// tests can stand in a fake that records the request.
class PowerControl {
public:
    virtual ~PowerControl();
    // Asks the system to power off. False, with the system's description of the failure in
    // `error`, when the request was refused or could not be made.
    virtual bool PowerOff(std::string& error) = 0;
};

// Powers off through systemd-logind on the system bus, without asking for a password; when
// the bus or logind cannot be reached, through `systemctl poweroff`.
class LogindPowerControl : public PowerControl {
public:
    bool PowerOff(std::string& error) override;

    // Runs a command that should end with status 0; otherwise false with its error output, or
    // what stopped it, in `error`. The fallback's runner, public so that harmless commands can
    // exercise it.
    static bool RunCommand(const QString& program, const QStringList& arguments, std::string& error);
};

}  // namespace tarn
