#include "app/window/instance_channel.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>

#include <unistd.h>

namespace {

// A message: this tag, the payload's length (32 bits, big-endian), the payload (the file
// list in QDataStream's form). The answer is kAnswer.
constexpr char kTag[] = "IMBRIX1\n";
constexpr qint64 kTagSize = sizeof kTag - 1;
constexpr qint64 kHeaderSize = kTagSize + 4;
constexpr char kAnswer[] = "ok\n";
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

QByteArray Message(const QStringList& files) {
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(kStreamVersion);
        out << files;
    }
    QByteArray message(kTag, kTagSize);
    char length[4];
    qToBigEndian(static_cast<quint32>(payload.size()), length);
    message.append(length, 4);
    message.append(payload);
    return message;
}

// Keeps a socket name to the characters a file name can safely hold.
QString NamePart(const QString& text) {
    QString part;
    for (QChar c : text) part += c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_' ? c : QChar(u'_');
    return part;
}

}  // namespace

TCommandLine ParseCommandLine(const QStringList& arguments, const QString& currentFolder) {
    TCommandLine line;
    bool onlyFiles = false;
    const QDir base(currentFolder);
    for (const QString& argument : arguments) {
        if (argument.isEmpty()) continue;
        if (!onlyFiles && argument == QStringLiteral("--")) {
            onlyFiles = true;
            continue;
        }
        if (!onlyFiles && argument.startsWith(u'-') && argument != QStringLiteral("-")) {
            if (line.Error.isEmpty()) line.Error = QStringLiteral("unknown option ") + argument;
            continue;
        }
        QString path = argument;
        // Some launchers pass URLs even for %F; only local ones name a file we can read.
        if (argument.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) {
            const QUrl url(argument);
            if (url.isLocalFile()) path = url.toLocalFile();
        }
        line.Files << QDir::cleanPath(base.absoluteFilePath(path));
    }
    return line;
}

QString InstanceSocketName() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    // Which display the window is on: a second X server (Xvfb) or the offscreen platform
    // gets a window of its own.
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty() || QGuiApplication::platformName() != QStringLiteral("wayland"))
        display = qEnvironmentVariable("DISPLAY");
    QString name = QStringLiteral("imbrix-") + NamePart(QGuiApplication::platformName());
    if (!display.isEmpty()) name += u'-' + NamePart(display);
    // The folder is the user's own; the user id in the name also keeps users apart when
    // it is the shared temporary folder.
    name += u'-' + QString::number(::getuid());
    return folder + u'/' + name;
}

HandOver HandFilesToRunningWindow(const QString& socketName, const QStringList& files, int answerTimeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketName);
    // A live window's socket accepts at once (the system does that, even while the window
    // is busy); a refused or missing one means there is no window.
    if (!socket.waitForConnected(1000)) return HandOver::NoWindow;
    const QByteArray message = Message(files);
    if (socket.write(message) != message.size()) return HandOver::NoWindow;
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(answerTimeoutMs)) return HandOver::NoAnswer;
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (answer.size() < qsizetype(sizeof kAnswer - 1)) {
        const qint64 left = answerTimeoutMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left))) break;
        answer += socket.readAll();
    }
    // What was sent stays in the socket for the window to read once it is free, even after
    // we are gone.
    return answer.startsWith(kAnswer) ? HandOver::Delivered : HandOver::NoAnswer;
}

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent) {}

TInstanceServer::~TInstanceServer() { Stop(); }

bool TInstanceServer::Listening() const { return server_ && server_->isListening(); }

void TInstanceServer::Stop() {
    if (!server_) return;
    server_->close();  // removes the socket file
    delete server_;
    server_ = nullptr;
}

HandOver TInstanceServer::Start(const QString& socketName, const QStringList& files) {
    Stop();
    // Asking first: listening with socket options would rename a new socket over the name
    // of a live one.
    if (const HandOver first = HandFilesToRunningWindow(socketName, files); first != HandOver::NoWindow) return first;
    server_ = new QLocalServer(this);
    // The runtime folder is the user's alone (mode 0700); plain options make listen fail,
    // rather than replace, when the name exists.
    server_->setSocketOptions(QLocalServer::NoOptions);
    connect(server_, &QLocalServer::newConnection, this, &TInstanceServer::Accept);
    if (server_->listen(socketName)) return HandOver::NoWindow;
    // The name is taken: by a window that started at the same moment (it answers), or by
    // the socket of one that crashed (nobody answers).
    if (const HandOver other = HandFilesToRunningWindow(socketName, files); other != HandOver::NoWindow) {
        Stop();
        return other;
    }
    QLocalServer::removeServer(socketName);
    server_->listen(socketName);  // if this fails too, the window runs without taking files
    return HandOver::NoWindow;
}

void TInstanceServer::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Data may have come with the connection.
        ReadFrom(socket);
    }
}

void TInstanceServer::ReadFrom(QLocalSocket* socket) {
    if (socket->bytesAvailable() < kHeaderSize) return;
    const QByteArray header = socket->peek(kHeaderSize);
    if (!header.startsWith(QByteArray(kTag, kTagSize))) {
        socket->abort();
        return;
    }
    const quint32 length = qFromBigEndian<quint32>(header.constData() + kTagSize);
    if (length > kMaxMessageBytes) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < kHeaderSize + qint64(length)) return;  // the rest is on its way
    socket->read(kHeaderSize);
    const QByteArray payload = socket->read(length);
    QStringList files;
    QDataStream in(payload);
    in.setVersion(kStreamVersion);
    in >> files;
    if (in.status() != QDataStream::Ok) {
        socket->abort();
        return;
    }
    socket->write(kAnswer, sizeof kAnswer - 1);
    socket->flush();
    socket->disconnectFromServer();
    emit FilesArrived(files);
}
