#include "app/HandOverSender.h"

#include <QLocalSocket>

#include "app/OneInstance.h"

namespace tarn {
namespace {

constexpr int ConnectWait = 2000;  // milliseconds
constexpr int AnswerWait = 10000;

}  // namespace

SendResult SendHandOver(const HandOver& handOver, std::string& error)
{
    QLocalSocket socket;
    socket.connectToServer(OneInstance::SocketPath());
    if (!socket.waitForConnected(ConnectWait)) {
        // A socket there that refuses us is not ours: another user's, reached through a link.
        error = socket.error() == QLocalSocket::SocketAccessError
                    ? "Tarnwell's socket " + OneInstance::SocketPath().toStdString() +
                          " refuses you: " + socket.errorString().toStdString()
                    : "Tarnwell is not running: start it from the applications menu or with the command tarn, "
                      "then send again";
        return SendResult::NotRunning;
    }
    socket.write(QByteArray::fromStdString(EncodeHandOverFrame(handOver)));
    QByteArray answer;
    while (answer.size() < 4 && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(AnswerWait)))
        answer += socket.read(4 - answer.size());
    if (answer.size() == 4 && answer == QByteArray::fromStdString(EncodeHandOverAnswer(true))) return SendResult::Taken;
    error = answer.size() == 4 ? "Tarnwell did not take the files: its new-task dialog for files handed over earlier is "
                                 "still open; answer it, then send again"
                               : "Tarnwell did not answer: " + socket.errorString().toStdString();
    return SendResult::Refused;
}

}  // namespace tarn
