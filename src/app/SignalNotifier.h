#pragma once
// Turns SIGTERM, SIGINT and SIGHUP (a closed terminal) into a call on the user-interface thread: the
// signal handler only writes a byte into a socket pair, and a socket notifier
// on the event loop reads it and runs the callback. The previous handlers are
// restored when the notifier is destroyed. One instance per process.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace tarvok {

class SignalNotifier : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. `onSignal` receives the signal number, once per
    // signal delivered.
    explicit SignalNotifier(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~SignalNotifier() override;

    // False when the socket pair or a handler could not be set up (the
    // program then ends on these signals the default way).
    bool active() const { return active_; }

private:
    void onReadable();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    bool active_ = false;
};

} // namespace tarvok
