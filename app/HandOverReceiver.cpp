#include "app/HandOverReceiver.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "core/HandOverBlock.h"
#include "windows/FormMain.h"

namespace tarn {

HandOverReceiver::HandOverReceiver(TfrmMain& window, const QString& socketName)
    : window_(window), socketName_(socketName)
{
    tmCreateTask_.setSingleShot(true);
    tmCreateTask_.setInterval(CreateTaskDelay);
    connect(&tmCreateTask_, &QTimer::timeout, this, &HandOverReceiver::tmCreateTaskTimer);
}

HandOverReceiver::~HandOverReceiver() = default;

bool HandOverReceiver::Listen(QString& error)
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The instance lock is held: a socket file left there belongs to a program that is gone.
    QLocalServer::removeServer(socketName_);
    if (!server_->listen(socketName_)) {
        error = server_->errorString();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &HandOverReceiver::Accept);
    return true;
}

void HandOverReceiver::Accept()
{
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        if (clients_ >= ClientLimit) {
            client->abort();
            client->deleteLater();
            continue;
        }
        ++clients_;
        auto reader = std::make_shared<HandOverFrameReader>();
        auto* limit = new QTimer(client);
        limit->setSingleShot(true);
        connect(limit, &QTimer::timeout, client, &QLocalSocket::abort);
        limit->start(ClientTimeLimit);
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            --clients_;
            client->deleteLater();
        });
        connect(client, &QLocalSocket::readyRead, this, [this, client, reader, limit] {
            const QByteArray bytes = client->readAll();
            const auto status = reader->Feed(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
            if (status == HandOverFrameReader::Status::NeedMore) return;
            limit->stop();
            // One answer per connection; what a client sends after it is not read.
            disconnect(client, &QLocalSocket::readyRead, this, nullptr);
            bool taken = false;
            if (status == HandOverFrameReader::Status::Complete && reader->IsActivation()) {
                window_.BringToFront();
                taken = true;
            } else {
                sources_.clear();
                destination_.clear();
                if (status == HandOverFrameReader::Status::Complete && !dialogOpen_) {
                    sources_ = reader->Result().Sources;
                    destination_ = reader->Result().Destination;
                    tmCreateTask_.start();
                    taken = true;
                }
            }
            client->write(QByteArray::fromStdString(EncodeHandOverAnswer(taken)));
            client->disconnectFromServer();
        });
    }
}

void HandOverReceiver::tmCreateTaskTimer()
{
    const std::vector<std::string> sources = std::move(sources_);
    const std::string destination = std::move(destination_);
    sources_.clear();
    destination_.clear();
    if (!destination.empty()) {
        window_.AddTasksDirect(sources, destination);
        return;
    }
    dialogOpen_ = true;
    window_.AddTasksByDialog(sources);
    dialogOpen_ = false;
}

}  // namespace tarn
