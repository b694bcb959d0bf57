#pragma once
// TFolderBrowse: the folder chooser, opened on the folder given in Directory.
#include <QObject>
#include <QString>
#include <functional>

class QWidget;

class TFolderBrowse : public QObject {
    Q_OBJECT
public:
    explicit TFolderBrowse(QObject* owner) : QObject(owner) {}

    QString Directory;  // in: the folder to preselect (none when empty); out: the choice
    QString Title;

    // Runs the chooser; true when a folder was chosen (Directory then holds it), false when
    // the user cancelled (Directory is left as it was).
    bool Execute(QWidget* ownerWindow);

    // Replaces the desktop's chooser (tests): gets title and start folder, returns the
    // chosen folder or an empty text for cancel.
    using Chooser = std::function<QString(QWidget* owner, const QString& title, const QString& start)>;
    static Chooser SetChooser(Chooser chooser);
};
