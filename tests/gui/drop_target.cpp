// A stand-in for a mail program or a folder window: a window that accepts dropped files
// and prints their paths, one a line, then "drop done". Used under a real X server to see
// what a drag out of the Out tray hands over.
//   drop_target [left top width height]
// With --drag it is instead a stand-in for a file manager: a window from which the given
// files can be dragged (offering copy, move and link, asking for move), printing what the
// drop did.
//   drop_target --drag left top width height FILE...
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <cstdio>

namespace {
class DropWindow : public QLabel {
public:
    DropWindow() : QLabel(QStringLiteral("Drop files here")) {
        setAcceptDrops(true);
        setAlignment(Qt::AlignCenter);
        setWindowTitle(QStringLiteral("drop target"));
    }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasUrls() && (e->possibleActions() & Qt::CopyAction)) {
            e->setDropAction(Qt::CopyAction);
            e->accept();
        }
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    }
    void dropEvent(QDropEvent* e) override {
        std::printf("offered actions: %s%s%s\n", e->possibleActions() & Qt::CopyAction ? "copy " : "",
                    e->possibleActions() & Qt::MoveAction ? "move " : "",
                    e->possibleActions() & Qt::LinkAction ? "link" : "");
        for (const QUrl& url : e->mimeData()->urls())
            std::printf("%s\n", url.isLocalFile() ? qPrintable(url.toLocalFile()) : qPrintable(url.toString()));
        std::printf("drop done\n");
        std::fflush(stdout);
        e->setDropAction(Qt::CopyAction);
        e->accept();
        setText(QStringLiteral("Dropped %1 file(s)").arg(e->mimeData()->urls().size()));
    }
};
class DragWindow : public QLabel {
public:
    explicit DragWindow(QStringList files) : QLabel(QStringLiteral("Drag from here")), files_(std::move(files)) {
        setAlignment(Qt::AlignCenter);
        setWindowTitle(QStringLiteral("drag source"));
    }

protected:
    void mousePressEvent(QMouseEvent* e) override { pressedAt_ = e->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!(e->buttons() & Qt::LeftButton)) return;
        if ((e->position().toPoint() - pressedAt_).manhattanLength() < QApplication::startDragDistance()) return;
        QList<QUrl> urls;
        for (const QString& f : files_) urls << QUrl::fromLocalFile(f);
        auto* data = new QMimeData;
        data->setUrls(urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction done =
            drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::MoveAction);
        std::printf("drag result: %s\n", done == Qt::CopyAction   ? "copy"
                                         : done == Qt::MoveAction ? "move"
                                         : done == Qt::LinkAction ? "link"
                                                                  : "none");
        std::fflush(stdout);
    }

private:
    QStringList files_;
    QPoint pressedAt_;
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc >= 7 && QString::fromLocal8Bit(argv[1]) == QStringLiteral("--drag")) {
        QStringList files;
        for (int i = 6; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);
        DragWindow source(files);
        source.setGeometry(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
        source.show();
        return app.exec();
    }
    DropWindow window;
    if (argc >= 5)
        window.setGeometry(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    else
        window.resize(300, 200);
    window.show();
    return app.exec();
}
