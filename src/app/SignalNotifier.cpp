#include "app/SignalNotifier.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvok {

namespace {

int g_fds[2] = {-1, -1};
struct sigaction g_oldTerm;
struct sigaction g_oldInt;
struct sigaction g_oldHup;

extern "C" void onSignal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    // Non-blocking: with the pipe full the signal is dropped, and earlier
    // ones are still waiting to be read.
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
    errno = saved;
}

} // namespace

SignalNotifier::SignalNotifier(std::function<void(int)> callback, QObject* parent)
    : QObject(parent), onSignal_(std::move(callback))
{
    if (g_fds[0] >= 0)
        return; // one instance per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) {
        g_fds[0] = g_fds[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalNotifier::onReadable);

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    const bool term = ::sigaction(SIGTERM, &sa, &g_oldTerm) == 0;
    const bool intr = ::sigaction(SIGINT, &sa, &g_oldInt) == 0;
    const bool hup = ::sigaction(SIGHUP, &sa, &g_oldHup) == 0;
    active_ = term && intr && hup;
}

SignalNotifier::~SignalNotifier()
{
    if (!notifier_)
        return;
    ::sigaction(SIGTERM, &g_oldTerm, nullptr);
    ::sigaction(SIGINT, &g_oldInt, nullptr);
    ::sigaction(SIGHUP, &g_oldHup, nullptr);
    delete notifier_;
    notifier_ = nullptr;
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void SignalNotifier::onReadable()
{
    unsigned char buf[64];
    for (;;) {
        const ssize_t n = ::read(g_fds[1], buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            if (onSignal_)
                onSignal_(buf[i]);
    }
}

} // namespace tarvok
