#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace tarn {

// One desktop program per user. The first start holds a lock file in the user's runtime folder
// for its whole run; a later start wakes the first through its local socket and ends. A lock
// left by a program that was killed names a process that is gone, and is taken over.
class OneInstance {
public:
    // The lock and the socket, named from AppGUID, in `folder` (the user's runtime folder when
    // empty).
    explicit OneInstance(const QString& folder = {});

    // True for the first instance, which holds the lock from then on. A later one asks the
    // first to come to the front (waiting up to `wait` for a first one still starting) and gets
    // false.
    bool CheckFirstInstance(int waitMilliseconds = 2000);
    // The socket's name for QLocalServer and QLocalSocket: a full path.
    const QString& SocketName() const { return socketName_; }
    // The socket of the instance running for this user, in `folder` or the user's runtime folder.
    static QString SocketPath(const QString& folder = {});

private:
    // The lock and socket files' common start.
    static QString FileStem(const QString& folder);

    QString socketName_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace tarn
