#include "desktop/TerminationSignals.h"

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kavelo {
namespace {

constexpr std::array kSignals = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read on the event loop. Only async-signal-safe calls
// happen in the handler: one write of the signal number and resetting itself.
std::atomic<int> writeEnd{-1};

extern "C" void onTerminationSignal(int number)
{
    const int savedErrno = errno;
    for (const int each : kSignals)
        std::signal(each, SIG_DFL);
    const int fd = writeEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    writeEnd.store(pipe_[1]);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int each : kSignals)
        ::sigaction(each, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (pipe_[0] < 0)
        return;
    for (const int each : kSignals)
        std::signal(each, SIG_DFL);
    writeEnd.store(-1);
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipe_[0], &byte, 1) == 1)
        emit terminationRequested(byte);
}

} // namespace kavelo
