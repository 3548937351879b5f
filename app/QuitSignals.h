#pragma once

#include <QObject>

class QSocketNotifier;

namespace tarn {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, so that a program
// told to end runs its orderly closing sequence instead of dying with its tasks half-saved.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    void QuitRequested(int signal);

private:
    void ReadSignal();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tarn
