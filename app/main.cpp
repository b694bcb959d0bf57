// Imbrix: starts the application, shows the main window and runs the message loop until
// the main window closes. Files named on the command line are processed as a drop; when a
// window is open already, they go to it instead.
#include <QApplication>
#include <QDir>
#include <QFont>

#include <cstdio>
#include <cstring>

#include "app/core/picture_formats.h"
#include "app/window/imbrix_application.h"
#include "app/window/instance_channel.h"
#include "app/window/main_window.h"
#include "metafile/metafile_player.h"

namespace {

constexpr const char* kUsage =
    "Usage: imbrix [Qt options] [FILE...]\n"
    "Opens the Imbrix window, which makes resized and rotated copies of pictures.\n"
    "The FILEs are converted as if dropped on the In tray. When an Imbrix window is\n"
    "open already (for this user and display), they are handed to it instead.\n"
    "\n"
    "  -h, --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "  --             the arguments after it are files, also when they begin with '-'\n"
    "\n"
    "imbrix-batch makes the same copies without a window.\n";

// --help and --version are answered before the application object exists, so they work
// without a display.
int AnswerInformationOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("imbrix (Imbrix) " IMBRIX_VERSION "\n", stdout);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = AnswerInformationOption(argc, argv); code >= 0) return code;
    TImbrixApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Imbrix"));
    QApplication::setDesktopFileName(QStringLiteral("imbrix"));

    const TCommandLine line = ParseCommandLine(QApplication::arguments().mid(1), QDir::currentPath());
    if (!line.Error.isEmpty()) {
        std::fprintf(stderr, "imbrix: %s\nTry 'imbrix --help'.\n", qPrintable(line.Error));
        return 2;
    }
    // Listening first: when the name is taken, the window that holds it gets the files.
    TInstanceServer server;
    switch (server.Start(InstanceSocketName(), line.Files)) {
        case HandOver::Delivered: return 0;
        case HandOver::NoAnswer:
            std::fputs("imbrix: the open Imbrix window is busy; it takes the files when it is free\n", stderr);
            return 0;
        case HandOver::NoWindow: break;
    }
    // Files sent once the window is closing would find no window: the next "imbrix" starts one.
    QObject::connect(&app, &QApplication::lastWindowClosed, &server, &TInstanceServer::Stop);

    app.QuitOnTerminationSignals();
    // The window is laid out in pixels for an 11-pixel font.
    QFont font = QApplication::font();
    font.setPixelSize(11);
    QApplication::setFont(font);

    RegisterPictureFormats();
    InstallMetafilePlayer();
    int code = 0;
    {
        TfrmMain frmMain;
        QObject::connect(&server, &TInstanceServer::FilesArrived, &frmMain, &TfrmMain::OpenFiles);
        frmMain.show();
        frmMain.OpenFiles(line.Files);
        code = app.exec();
        server.Stop();
    }  // destroying the window deletes the results the Out tray lists
    UnregisterPictureFormats();
    return code;
}
