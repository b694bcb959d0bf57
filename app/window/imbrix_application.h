#pragma once
// The application object. Its event hook is the top-level error handler: an error that
// escapes an event handler ends that handler and is shown in the error box, and the
// message loop goes on.
#include <QApplication>

class TImbrixApplication : public QApplication {
    Q_OBJECT
public:
    TImbrixApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};
