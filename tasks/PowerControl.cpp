#include "tasks/PowerControl.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QProcess>

namespace tarn {
namespace {

constexpr int CommandTimeoutMs = 60000;

// Errors that mean nobody answered for logind, as opposed to logind refusing the request (no
// permission, an inhibitor, another shut-down in progress), which systemctl would meet too.
bool LogindUnreachable(QDBusError::ErrorType type)
{
    switch (type) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::NoNetwork:
    case QDBusError::Disconnected:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return true;
    default:
        return false;
    }
}

}  // namespace

PowerControl::~PowerControl() = default;

bool LogindPowerControl::PowerOff(std::string& error)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    QString unreachable;
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                           "org.freedesktop.login1.Manager", "PowerOff");
        call << false;  // not interactive: the unattended shut-down must not wait at a password prompt
        const QDBusMessage reply = bus.call(call);
        if (reply.type() == QDBusMessage::ReplyMessage) return true;
        const QDBusError failure(reply);
        const QString text = failure.message().isEmpty() ? failure.name() : failure.message();
        if (!LogindUnreachable(failure.type())) {
            error = text.toStdString();
            return false;
        }
        unreachable = text;
    } else {
        unreachable = bus.lastError().message();
    }
    if (RunCommand("systemctl", {"poweroff"}, error)) return true;
    error = "systemd-logind could not be reached: " + unreachable.toStdString() + "\n" + error;
    return false;
}

bool LogindPowerControl::RunCommand(const QString& program, const QStringList& arguments, std::string& error)
{
    const QString command = (QStringList{program} + arguments).join(' ');
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        error = (command + ": " + process.errorString()).toStdString();
        return false;
    }
    if (!process.waitForFinished(CommandTimeoutMs)) {
        error = (command + ": " + process.errorString()).toStdString();
        process.kill();
        process.waitForFinished();
        return false;
    }
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit) {
        error = (command + ": " + process.errorString()).toStdString();
        return false;
    }
    if (process.exitCode() != 0) {
        error = (output.isEmpty() ? command + QString(": exit status %1").arg(process.exitCode()) : output)
                    .toStdString();
        return false;
    }
    return true;
}

}  // namespace tarn
