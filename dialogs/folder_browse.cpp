#include "dialogs/folder_browse.h"

#include <QDir>
#include <QFileDialog>

namespace {
TFolderBrowse::Chooser& CurrentChooser() {
    static TFolderBrowse::Chooser chooser;
    return chooser;
}
}  // namespace

TFolderBrowse::Chooser TFolderBrowse::SetChooser(Chooser chooser) {
    Chooser previous = std::move(CurrentChooser());
    CurrentChooser() = std::move(chooser);
    return previous;
}

bool TFolderBrowse::Execute(QWidget* ownerWindow) {
    QString chosen;
    if (CurrentChooser()) {
        chosen = CurrentChooser()(ownerWindow, Title, Directory);
    } else {
        chosen = QFileDialog::getExistingDirectory(ownerWindow, Title, Directory,
                                                   QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    }
    if (chosen.isEmpty()) return false;
    // Only folders of the file system count; the chooser may hand back other locations.
    if (!QDir(chosen).exists()) return false;
    Directory = chosen;
    return true;
}
