#include "app/OneInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include "core/Globals.h"
#include "core/HandOverBlock.h"

namespace tarn {

QString OneInstance::FileStem(const QString& folder)
{
    const QString base = folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : folder;
    return QDir(base).filePath(QStringLiteral("tarnwell-") + QString::fromLatin1(AppGUID));
}

QString OneInstance::SocketPath(const QString& folder) { return FileStem(folder) + QStringLiteral(".socket"); }

OneInstance::OneInstance(const QString& folder)
{
    const QString stem = FileStem(folder);
    socketName_ = SocketPath(folder);
    lock_ = std::make_unique<QLockFile>(stem + QStringLiteral(".lock"));
    // Only a lock whose process is gone is stale, however old it is.
    lock_->setStaleLockTime(0);
}

bool OneInstance::CheckFirstInstance(int waitMilliseconds)
{
    if (lock_->tryLock(0)) return true;
    // Another instance holds the lock; it may still be starting, before it listens.
    QElapsedTimer waited;
    waited.start();
    do {
        QLocalSocket socket;
        socket.connectToServer(socketName_);
        if (socket.waitForConnected(200)) {
            socket.write(QByteArray::fromStdString(EncodeHandOverActivation()));
            socket.waitForBytesWritten(500);
            socket.waitForReadyRead(500);
            return false;
        }
        QThread::msleep(50);
        // The first one may have ended meanwhile: then this one is the first.
        if (lock_->tryLock(0)) return true;
    } while (waited.elapsed() < waitMilliseconds);
    return false;
}

}  // namespace tarn
