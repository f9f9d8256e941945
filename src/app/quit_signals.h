#pragma once
// SIGTERM and SIGINT end the application in order: the signal handler only
// writes a byte to a pipe, and the main thread's event loop then quits, so the
// usual quit steps (boot-log line, shutdown) run.

#include <QObject>

class QSocketNotifier;

namespace corvane {

class QuitSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; one object per process, made on the main thread.
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace corvane
