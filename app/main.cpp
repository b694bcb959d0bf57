// Imbrix: starts the application, shows the main window and runs the message loop until
// the main window closes.
#include <QApplication>
#include <QFont>

#include "app/core/picture_formats.h"
#include "app/window/imbrix_application.h"
#include "app/window/main_window.h"
#include "metafile/metafile_player.h"

int main(int argc, char** argv) {
    TImbrixApplication app(argc, argv);
    app.QuitOnTerminationSignals();
    QApplication::setApplicationName(QStringLiteral("Imbrix"));
    QApplication::setDesktopFileName(QStringLiteral("imbrix"));
    // The window is laid out in pixels for an 11-pixel font.
    QFont font = QApplication::font();
    font.setPixelSize(11);
    QApplication::setFont(font);

    RegisterPictureFormats();
    InstallMetafilePlayer();
    int code = 0;
    {
        TfrmMain frmMain;
        frmMain.show();
        code = app.exec();
    }  // destroying the window deletes the results the Out tray lists
    UnregisterPictureFormats();
    return code;
}
