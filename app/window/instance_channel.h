#pragma once
// One window per user and display: "imbrix FILE..." started while a window is open hands its
// files to that window over a local socket, instead of opening a second window with working
// files of its own. The socket lives in the user's runtime folder ($XDG_RUNTIME_DIR, mode
// 0700), so only the user's own programs can reach it.
#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// What the window's command line asks for.
struct TCommandLine {
    // The files named, as absolute paths: relative ones against the current folder (the
    // running window has a current folder of its own), file: URLs as local paths.
    QStringList Files;
    QString Error;  // "unknown option -x"; "" when the line is fine
};
// The arguments after the program's name, once Qt took its own options. A "--" ends the
// options (so "--" "-odd name.jpg" names a file).
TCommandLine ParseCommandLine(const QStringList& arguments, const QString& currentFolder);

// The socket's name: runtime folder + "/imbrix-" + the windowing platform and its display
// (Xvfb servers and the offscreen platform used by tests each get their own window).
// Needs the application object.
QString InstanceSocketName();

enum class HandOver {
    NoWindow,    // nobody listens: this process becomes the window
    Delivered,   // the running window took the files
    NoAnswer,    // sent, but the window has not confirmed yet (busy); it reads them when free
};
// Sends the files (an empty list only brings the window to the front).
HandOver HandFilesToRunningWindow(const QString& socketName, const QStringList& files, int answerTimeoutMs = 5000);

// The running window's end: emits FilesArrived for every list another instance sends.
class TInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit TInstanceServer(QObject* parent = nullptr);
    ~TInstanceServer() override;

    // Hands the files to the window listening under socketName, if there is one (the
    // result is then Delivered or NoAnswer, and this process ends); otherwise listens there
    // itself and returns NoWindow. A socket left behind by a window that crashed is
    // replaced.
    HandOver Start(const QString& socketName, const QStringList& files);
    bool Listening() const;
    void Stop();

    // A list larger than this is refused (a well-behaved sender never comes close).
    static constexpr qint64 kMaxMessageBytes = 16 * 1024 * 1024;

signals:
    void FilesArrived(const QStringList& files);

private:
    void Accept();
    void ReadFrom(QLocalSocket* socket);

    QLocalServer* server_ = nullptr;
};
