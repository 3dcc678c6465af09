#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace kavelo {

// Turns SIGTERM, SIGINT and SIGHUP (log-out, Ctrl+C in a terminal, `kill`) into
// a Qt signal on the event loop, so the program can close as if its user had
// closed it and keep its settings. The first request is delivered; the handlers
// are then reset, so a second signal ends a program that does not close.
// One instance at a time; the handlers are removed when it is destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // True when the handlers are installed (the pipe could be made).
    bool installed() const { return notifier_ != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace kavelo
