#pragma once
// The application object. Its event hook is the top-level error handler: an error that
// escapes an event handler ends that handler and is shown in the error box, and the
// message loop goes on.
#include <QApplication>

class QSocketNotifier;

class TImbrixApplication : public QApplication {
    Q_OBJECT
public:
    TImbrixApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;

    // SIGTERM, SIGINT and SIGHUP (a session ending, Ctrl+C in a terminal) close the main
    // windows like Quit does, so the settings are saved and the results deleted.
    void QuitOnTerminationSignals();

private:
    QSocketNotifier* signalNotifier_ = nullptr;
};
