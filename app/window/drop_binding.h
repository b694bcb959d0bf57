#pragma once
// The thin layer between the trays and the desktop's drag-and-drop service: lists of file
// paths come in as text/uri-list file URLs and go out the same way. No picture logic here.
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

// The effect a drop onto the In tray takes. Wanted: link with Ctrl+Shift, copy with Ctrl,
// move otherwise; taken when this target allows it (copy, link) and the source offers it,
// else the first of copy, move, link that both allow. Qt::IgnoreAction when none fits.
Qt::DropAction ChooseDropEffect(Qt::KeyboardModifiers keys, Qt::DropActions offered);

// The local file paths a drag carries, in the order the data lists them. Empty when the
// data has no file URLs.
QStringList FilePathsFromMime(const QMimeData* data);
// The data an outgoing drag offers for these paths.
QMimeData* MimeForFilePaths(const QStringList& paths);

// An outgoing drag starts only after the pointer moved this far on one axis.
inline constexpr int kDragThreshold = 10;
bool DragThresholdReached(QPoint pressedAt, QPoint now);

// dtIn: accepts file lists dropped on a widget (for a list view, its viewport).
class TDropFileTarget : public QObject {
    Q_OBJECT
public:
    explicit TDropFileTarget(QObject* owner) : QObject(owner) {}
    void Register(QWidget* target);
    void Unregister();
    bool Registered() const { return target_ != nullptr; }
    // The paths of the last drop.
    const QStringList& Files() const { return files_; }

signals:
    // Emitted once per drop, after Files() was filled; the drop has already been accepted.
    void Drop(Qt::DropAction effect);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* target_ = nullptr;
    QStringList files_;
};

// dsOut: offers a file list to whatever the user drops it on; copy is the only effect.
class TDropFileSource : public QObject {
    Q_OBJECT
public:
    explicit TDropFileSource(QObject* owner) : QObject(owner) {}
    QStringList Files;
    // Runs the drag (modal); returns what the target did.
    Qt::DropAction Execute(QWidget* dragSource);

    // Replaces the modal drag (tests); receives the file list instead.
    using Runner = std::function<Qt::DropAction(const QStringList& files)>;
    void SetRunner(Runner runner) { runner_ = std::move(runner); }

private:
    Runner runner_;
};
