#include "tests/gui/gui_test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "graphics/bitmap.h"

namespace guitest {

std::vector<TestFactory>& Registry() {
    static std::vector<TestFactory> registry;
    return registry;
}

BoxRecorder::BoxRecorder() {
    previous_ = SetMessageBoxHook([this](TMessageKind kind, const QString& title, const QString& text) {
        boxes.push_back({kind, title, text});
    });
}

BoxRecorder::~BoxRecorder() { SetMessageBoxHook(std::move(previous_)); }

QString BoxRecorder::Texts() const {
    QStringList lines;
    for (const Box& b : boxes) lines << b.title + QStringLiteral(": ") + b.text;
    return lines.join(u'\n');
}

void WriteBmp(const QString& path, int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    TBitmap bitmap(width, height, TPixelFormat::pf24bit);
    bitmap.FillRect(Rect(0, 0, width, height), RGBColor(r, g, b));
    // A mark in the top-left corner, so that turns and flips are visible.
    bitmap.FillRect(Rect(0, 0, std::max(1, width / 4), std::max(1, height / 4)), RGBColor(0, 0, 0));
    bitmap.WritePictureFile(path.toStdString());
}

WindowFixture::WindowFixture() {
    QDir(dir.path()).mkpath(QStringLiteral("src"));
    QDir(dir.path()).mkpath(QStringLiteral("out"));
    sources = dir.filePath(QStringLiteral("src")) + u'/';
    results = dir.filePath(QStringLiteral("out")) + u'/';
    SettingsLocation location;
    location.IniFile = IniFile().toStdString();
    window = std::make_unique<TfrmMain>(location);
    window->Record().WorkDir = results.toStdString();
    window->Record().OutputType = 1;  // .bmp
    window->Record().Resampler = 0;   // the box filter is the quickest
}

QStringList WindowFixture::MakeSources(int count, int width, int height, const QString& stem) {
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString p = sources + stem + QString::number(i) + QStringLiteral(".bmp");
        WriteBmp(p, width + i, height, uint8_t(40 * i), 120, 200);
        paths << p;
    }
    return paths;
}

QStringList WindowFixture::ResultFiles() const {
    QStringList files = QDir(results).entryList(QDir::Files, QDir::Name);
    return files;
}

Qt::DropAction DropOnIn(TfrmMain& window, const QStringList& paths, Qt::KeyboardModifiers keys,
                        Qt::DropActions offered) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QWidget* viewport = window.lvIn->viewport();
    const QPointF at(10, 10);
    QDragEnterEvent enter(at.toPoint(), offered, &data, Qt::LeftButton, keys);
    QCoreApplication::sendEvent(viewport, &enter);
    QDropEvent drop(at, offered, &data, Qt::LeftButton, keys, QEvent::Drop);
    QCoreApplication::sendEvent(viewport, &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

bool WaitFor(const std::function<bool()>& cond) {
    QDeadlineTimer deadline(10000);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

}  // namespace guitest
