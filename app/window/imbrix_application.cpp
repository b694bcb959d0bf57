#include "app/window/imbrix_application.h"

#include "dialogs/message_box.h"

bool TImbrixApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportException(activeWindow(), std::current_exception());
        return true;
    }
}
