#pragma once
// Handing files to the desktop: the user's usual program for a file, and the file manager
// showing where a file is. Failures end in a message box, never in a line on standard error
// that a desktop user does not see.
#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

class TShellOpener : public QObject {
    Q_OBJECT
public:
    explicit TShellOpener(QWidget* owner);

    // The program that opens a file or folder with the user's usual program (xdg-open). Tests
    // put a script of their own here.
    QString OpenCommand = QStringLiteral("xdg-open");
    // Whether "Show in Folder" asks the file manager's D-Bus service first (it selects the
    // files); without it, or when no file manager answers, the folder is opened.
    bool UseFileManagerService = true;

    // Opens each file with its usual program. When there is no such program (or no program
    // to ask), a message box says so, naming the file and why.
    void OpenFiles(const QStringList& paths);
    // Shows the files in the file manager, selected where the file manager can do that.
    void ShowInFolder(const QStringList& paths);

    // The text of the box for a file that could not be opened.
    static QString NoProgramText(const QString& path, const QString& detail);

private:
    void Launch(const QString& target, const QString& shownName);
    QWidget* owner_;
};
