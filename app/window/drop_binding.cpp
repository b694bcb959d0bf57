#include "app/window/drop_binding.h"

#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <cstdlib>

Qt::DropAction ChooseDropEffect(Qt::KeyboardModifiers keys, Qt::DropActions offered) {
    const Qt::DropActions allowed = Qt::CopyAction | Qt::LinkAction;
    const bool ctrl = keys.testFlag(Qt::ControlModifier);
    const bool shift = keys.testFlag(Qt::ShiftModifier);
    Qt::DropAction wanted = Qt::MoveAction;
    if (ctrl && shift)
        wanted = Qt::LinkAction;
    else if (ctrl)
        wanted = Qt::CopyAction;
    if (allowed.testFlag(wanted) && offered.testFlag(wanted)) return wanted;
    for (Qt::DropAction e : {Qt::CopyAction, Qt::MoveAction, Qt::LinkAction})
        if (allowed.testFlag(e) && offered.testFlag(e)) return e;
    return Qt::IgnoreAction;
}

QStringList FilePathsFromMime(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

QMimeData* MimeForFilePaths(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

bool DragThresholdReached(QPoint pressedAt, QPoint now) {
    return std::abs(now.x() - pressedAt.x()) >= kDragThreshold || std::abs(now.y() - pressedAt.y()) >= kDragThreshold;
}

void TDropFileTarget::Register(QWidget* target) {
    Unregister();
    target_ = target;
    target_->setAcceptDrops(true);
    target_->installEventFilter(this);
}

void TDropFileTarget::Unregister() {
    if (!target_) return;
    target_->removeEventFilter(this);
    target_->setAcceptDrops(false);
    target_ = nullptr;
}

bool TDropFileTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != target_) return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* e = static_cast<QDropEvent*>(event);
        const Qt::DropAction effect = ChooseDropEffect(e->modifiers(), e->possibleActions());
        if (effect == Qt::IgnoreAction || FilePathsFromMime(e->mimeData()).isEmpty()) {
            e->ignore();
        } else {
            e->setDropAction(effect);
            e->accept();
        }
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        const Qt::DropAction effect = ChooseDropEffect(e->modifiers(), e->possibleActions());
        QStringList paths = FilePathsFromMime(e->mimeData());
        if (effect == Qt::IgnoreAction || paths.isEmpty()) {
            e->ignore();
            return true;
        }
        e->setDropAction(effect);
        e->accept();
        files_ = std::move(paths);
        emit Drop(effect);
        return true;
    }
    default:
        return false;
    }
}

Qt::DropAction TDropFileSource::Execute(QWidget* dragSource) {
    if (runner_) return runner_(Files);
    auto* drag = new QDrag(dragSource);  // owned by Qt; deleted after the drag
    drag->setMimeData(MimeForFilePaths(Files));
    return drag->exec(Qt::CopyAction, Qt::CopyAction);
}
