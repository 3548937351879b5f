#pragma once

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace tarn {

class TfrmMain;

// Takes the lists of files other programs hand over through the program's local socket and
// turns them into tasks, and brings the window to the front for a later start. A hand-over is
// answered at once and worked 100 ms later on the window's thread, outside the sender's call:
// with a destination its tasks start at once, without one the new-task dialog asks. One that
// comes while that dialog is open is refused; one that comes while another waits replaces it.
// No client can hold up the window: bytes are read as they come, a client that does not send
// a whole frame in time is dropped, and beyond a number of open connections new ones are.
class HandOverReceiver : public QObject {
    Q_OBJECT

public:
    static constexpr int CreateTaskDelay = 100;   // milliseconds
    static constexpr int ClientTimeLimit = 5000;  // milliseconds for one frame
    static constexpr int ClientLimit = 16;

    HandOverReceiver(TfrmMain& window, const QString& socketName);
    ~HandOverReceiver() override;
    // False, with the reason, when the socket cannot be made.
    bool Listen(QString& error);

private:
    void Accept();
    void Read(QLocalSocket& client);
    void tmCreateTaskTimer();

    TfrmMain& window_;
    QString socketName_;
    QLocalServer* server_ = nullptr;
    int clients_ = 0;
    std::vector<std::string> sources_;
    std::string destination_;
    bool dialogOpen_ = false;
    QTimer tmCreateTask_;
};

}  // namespace tarn
