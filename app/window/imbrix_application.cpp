#include "app/window/imbrix_application.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "dialogs/message_box.h"

namespace {
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    // Only async-signal-safe work here: wake the message loop.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}
}  // namespace

bool TImbrixApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportException(activeWindow(), std::current_exception());
        return true;
    }
}

void TImbrixApplication::QuitOnTerminationSignals() {
    if (signalNotifier_ || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    signalNotifier_ = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        closeAllWindows();
        quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}
