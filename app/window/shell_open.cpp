#include "app/window/shell_open.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include "dialogs/message_box.h"

TShellOpener::TShellOpener(QWidget* owner) : QObject(owner), owner_(owner) {}

QString TShellOpener::NoProgramText(const QString& path, const QString& detail) {
    QString text = QStringLiteral("No program could be found to open \"%1\".").arg(QFileInfo(path).fileName());
    if (!detail.trimmed().isEmpty()) text += u'\n' + detail.trimmed();
    text += QStringLiteral("\nChoose a program for this kind of file in your desktop's settings, or turn on "
                           "\"Use Internal Viewer\" in the Advanced Settings.");
    return text;
}

void TShellOpener::OpenFiles(const QStringList& paths) {
    for (const QString& p : paths) Launch(p, p);
}

void TShellOpener::Launch(const QString& target, const QString& shownName) {
    const QString program = QStandardPaths::findExecutable(OpenCommand);
    if (program.isEmpty()) {
        // No opener of the desktop's: Qt's own guess, which reports only whether it started one.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(target)))
            ShowErrorBox(owner_, NoProgramText(shownName, QString()));
        return;
    }
    // The opener reports "no program for this type" by its exit code, and says why on its
    // standard error, which the box shows. The process is not waited for: a program it starts
    // may stay open as long as the user likes.
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments({target});
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardOutputFile(QProcess::nullDevice());
    connect(process, &QProcess::errorOccurred, this, [this, process, shownName](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        ShowErrorBox(owner_, NoProgramText(shownName, process->errorString()));
        process->deleteLater();
    });
    connect(process, &QProcess::finished, this, [this, process, shownName](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code != 0)
            ShowErrorBox(owner_, NoProgramText(shownName, QString::fromLocal8Bit(process->readAllStandardError())));
        process->deleteLater();
    });
    process->start();
}

void TShellOpener::ShowInFolder(const QStringList& paths) {
    if (paths.isEmpty()) return;
    QStringList folders;
    for (const QString& p : paths) {
        const QString folder = QFileInfo(p).absolutePath();
        if (!folders.contains(folder)) folders << folder;
    }
    auto openFolders = [this, folders] {
        for (const QString& f : folders) Launch(f, f);
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!UseFileManagerService || !bus.isConnected()) {
        openFolders();
        return;
    }
    QStringList uris;
    for (const QString& p : paths) uris << QUrl::fromLocalFile(QFileInfo(p).absoluteFilePath()).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << uris << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, openFolders] {
        if (QDBusPendingReply<>(*watcher).isError()) openFolders();
        watcher->deleteLater();
    });
}
