// A stand-in for a mail program or a folder window: a window that accepts dropped files
// and prints their paths, one a line, then "drop done". Used under a real X server to see
// what a drag out of the Out tray hands over.
//   drop_target [left top width height]
#include <QApplication>
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
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    DropWindow window;
    if (argc >= 5)
        window.setGeometry(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    else
        window.resize(300, 200);
    window.show();
    return app.exec();
}
