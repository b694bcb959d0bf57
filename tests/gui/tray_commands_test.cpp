// The trays' commands (Delete, rename, copy, the context menus, opening with the usual
// program), the keys of each window, the remembered window places and the viewer's zoom.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QUrl>
#include <cmath>
#include <map>

#include "app/settings/window_geometry.h"
#include "app/window/progress_dialog.h"
#include "app/window/shell_open.h"
#include "dialogs/help_window.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/viewer.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {
QStringList Captions(QListWidget* list) {
    QStringList c;
    for (int i = 0; i < list->count(); ++i) c << list->item(i)->text();
    return c;
}

void SelectOnly(QListWidget* list, std::initializer_list<int> rows) {
    list->clearSelection();
    for (int r : rows) list->item(r)->setSelected(true);
    list->setCurrentItem(list->item(*rows.begin()), QItemSelectionModel::NoUpdate);
}

// A stand-in for xdg-open that logs its argument and exits with the given code, saying why
// on standard error when it fails.
QString FakeOpener(const QTemporaryDir& dir, int exitCode) {
    const QString path = dir.filePath(QStringLiteral("opener-%1.sh").arg(exitCode));
    QFile script(path);
    script.open(QIODevice::WriteOnly);
    script.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n[ %2 -ne 0 ] && echo 'no method available' >&2\nexit %2\n")
                     .arg(dir.filePath(QStringLiteral("opened.log")))
                     .arg(exitCode)
                     .toUtf8());
    script.close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QStringList OpenedLog(const QTemporaryDir& dir) {
    QFile log(dir.filePath(QStringLiteral("opened.log")));
    if (!log.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// The mnemonic letters of a window's controls, with the control texts that use each one.
std::map<QChar, QStringList> Mnemonics(QWidget* window) {
    std::map<QChar, QStringList> letters;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window) continue;  // a dialog owned by this window has its own letters
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy()) text = l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w)) text = g->title();
        const int amp = text.indexOf(u'&');
        if (amp >= 0 && amp + 1 < text.size() && text[amp + 1] != u'&') letters[text[amp + 1].toLower()] << text;
    }
    return letters;
}
}  // namespace

class TestTrayCommands : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        CloseAllViewers();
        TfrmViewer::RememberedPlacement() = {};
    }
    void deleteRemovesEntriesAndOnlyOurFiles();
    void renamingACaptionRenamesTheFile();
    void copyPutsFilesAndThePictureOnTheClipboard();
    void contextMenusAct();
    void noProgramToOpenIsABox();
    void keysOfTheWindows();
    void acceleratorsAreUniquePerWindow();
    void focusReturnsToTheInTrayAfterABatch();
    void windowPlacesRoundTrip();
    void viewerZoom();
};

void TestTrayCommands::deleteRemovesEntriesAndOnlyOurFiles() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));  // the tray keys act in the active window
    const QStringList sources = f.MakeSources(3);
    const QString stranger = f.results + QStringLiteral("notes.txt");
    QFile(stranger).open(QIODevice::WriteOnly);
    w.RunBatch(sources);
    QCOMPARE(w.lvOut->count(), 3);

    // Delete in the Out tray: that entry and its file go, nothing else.
    SelectOnly(w.lvOut, {1});
    w.lvOut->setFocus();
    QTest::keyClick(w.lvOut, Qt::Key_Delete);
    QCOMPARE(Captions(w.lvOut), (QStringList{"pic0.bmp", "pic2.bmp"}));
    QCOMPARE(f.ResultFiles(), (QStringList{"notes.txt", "pic0.bmp", "pic2.bmp"}));
    QCOMPARE(w.lvIn->count(), 3);
    QCOMPARE(w.Trays().Count(TTray::Out), size_t(2));
    QVERIFY(w.pnlOutDetail->text().startsWith(QStringLiteral("2 files")));
    // The next entry is current, so Delete can go on.
    QCOMPARE(w.lvOut->currentRow(), 1);

    // A result replaced behind our back loses its entry but the new file stays.
    QFile::remove(f.results + QStringLiteral("pic2.bmp"));
    WriteBmp(f.results + QStringLiteral("pic2.bmp"), 5, 5);
    SelectOnly(w.lvOut, {1});
    w.RemoveSelected(TTray::Out);
    QCOMPARE(Captions(w.lvOut), (QStringList{"pic0.bmp"}));
    QVERIFY(QFile::exists(f.results + QStringLiteral("pic2.bmp")));

    // Delete in the In tray takes the entries off; the sources stay.
    SelectOnly(w.lvIn, {0, 2});
    w.lvIn->setFocus();
    QTest::keyClick(w.lvIn, Qt::Key_Delete);
    QCOMPARE(Captions(w.lvIn), (QStringList{"pic1.bmp"}));
    for (const QString& s : sources) QVERIFY2(QFile::exists(s), qPrintable(s));
    QCOMPARE(w.Trays().Entries(TTray::In)[0].Path, sources[1].toStdString());
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestTrayCommands::renamingACaptionRenamesTheFile() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    w.RunBatch(f.MakeSources(3));
    QCOMPARE(w.lvOut->count(), 3);

    struct Case {
        QString typed;
        bool works;
        QString boxPart;
    } cases[] = {
        {QStringLiteral("holiday.bmp"), true, {}},
        {QStringLiteral("pic2.bmp"), false, QStringLiteral("already exists")},
        {QStringLiteral("sub/x.bmp"), false, QStringLiteral("\"/\"")},
        {QString(), false, QStringLiteral("empty")},
        {QStringLiteral("sea and sun.bmp"), true, {}},
    };
    QString current = QStringLiteral("pic0.bmp");
    for (const Case& c : cases) {
        boxes.boxes.clear();
        // What the in-place editor does when the user presses Enter.
        w.lvOut->item(0)->setText(c.typed);
        if (c.works) current = c.typed;
        const QString what = QStringLiteral("typed \"%1\"").arg(c.typed);
        QVERIFY2(c.works == boxes.boxes.empty(), qPrintable(what + u' ' + boxes.Texts()));
        if (!c.works) QVERIFY2(boxes.boxes[0].text.contains(c.boxPart), qPrintable(what + u' ' + boxes.Texts()));
        QCOMPARE(w.lvOut->item(0)->text(), current);
        QCOMPARE(w.Trays().Entries(TTray::Out)[0].Path, (f.results + current).toStdString());
        QVERIFY2(QFile::exists(f.results + current), qPrintable(what));
        QCOMPARE(f.ResultFiles().size(), 3);
    }
    QVERIFY(w.lvOutInfoTip(0).startsWith(f.results + current + u'\n'));
    // The renamed file is still ours: clearing deletes it.
    w.butClearTraysClick();
    QCOMPARE(f.ResultFiles(), QStringList());

    // F2 and "Rename" open the editor on the current caption.
    w.RunBatch(f.MakeSources(1));
    SelectOnly(w.lvOut, {0});
    w.actOutRename->trigger();
    QLineEdit* editor = w.lvOut->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), QStringLiteral("pic0.bmp"));
}

void TestTrayCommands::copyPutsFilesAndThePictureOnTheClipboard() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));  // the tray keys act in the active window
    const QStringList sources = f.MakeSources(2, 80, 60);
    w.RunBatch(sources);
    const QString r0 = f.results + QStringLiteral("pic0.bmp"), r1 = f.results + QStringLiteral("pic1.bmp");

    struct Case {
        const char* name;
        TTray tray;
        std::initializer_list<int> rows;
        QStringList files;
        bool picture;
    } cases[] = {
        {"one result", TTray::Out, {0}, {r0}, true},
        {"two results", TTray::Out, {1, 0}, {r0, r1}, false},
        {"a source", TTray::In, {1}, {sources[1]}, false},
    };
    for (const Case& c : cases) {
        QGuiApplication::clipboard()->clear();
        QListWidget* list = c.tray == TTray::In ? static_cast<QListWidget*>(w.lvIn) : w.lvOut;
        SelectOnly(list, c.rows);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY2(data != nullptr, c.name);
        QList<QUrl> urls;
        QByteArray gnome("copy");
        for (const QString& p : c.files) {
            urls << QUrl::fromLocalFile(p);
            gnome += '\n' + QUrl::fromLocalFile(p).toEncoded();
        }
        QVERIFY2(data->hasFormat(QStringLiteral("text/uri-list")), c.name);
        QCOMPARE(data->urls(), urls);
        QCOMPARE(data->data(QStringLiteral("x-special/gnome-copied-files")), gnome);
        QCOMPARE(data->hasFormat(QStringLiteral("image/png")), c.picture);
        if (c.picture) {
            const QImage png = QImage::fromData(data->data(QStringLiteral("image/png")), "PNG");
            QCOMPARE(png.size(), QSize(40, 30));  // the result, at half size
        }
    }
    // "Copy" in the menu does the same.
    QGuiApplication::clipboard()->clear();
    SelectOnly(w.lvOut, {1});
    w.actOutCopy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->mimeData()->urls(), QList<QUrl>{QUrl::fromLocalFile(r1)});
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestTrayCommands::contextMenusAct() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(2);
    w.RunBatch(sources);
    auto texts = [](QMenu* m) {
        QStringList t;
        for (QAction* a : m->actions()) t << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return t;
    };
    QCOMPARE(texts(w.TrayMenu(TTray::In)),
             (QStringList{"&Copy", "&Open With Default Program", "Show in &Folder", "-", "&Remove from Tray"}));
    QCOMPARE(texts(w.TrayMenu(TTray::Out)),
             (QStringList{"&Copy", "&Open With Default Program", "Show in &Folder", "Re&name", "-", "&Delete"}));

    // A right click on an unselected item selects it and shows the menu.
    SelectOnly(w.lvOut, {0});
    const QPoint on1 = w.lvOut->visualItemRect(w.lvOut->item(1)).center();
    emit w.lvOut->customContextMenuRequested(on1);
    QVERIFY(w.TrayMenu(TTray::Out)->isVisible());
    QCOMPARE(w.lvOut->selectedItems(), QList<QListWidgetItem*>{w.lvOut->item(1)});
    w.TrayMenu(TTray::Out)->hide();

    w.Shell()->OpenCommand = FakeOpener(f.dir, 0);
    w.Shell()->UseFileManagerService = false;
    w.actOutOpen->trigger();
    SelectOnly(w.lvIn, {0});
    w.actInOpen->trigger();
    w.actInShow->trigger();
    const QStringList want{f.results + QStringLiteral("pic1.bmp"), sources[0], f.sources.chopped(1)};
    QVERIFY2(WaitFor([&] { return OpenedLog(f.dir).size() == 3; }), qPrintable(OpenedLog(f.dir).join(u'\n')));
    QStringList got = OpenedLog(f.dir);
    got.sort();
    QStringList sortedWant = want;
    sortedWant.sort();
    QCOMPARE(got, sortedWant);  // the openers run side by side

    // "Remove from Tray" and "Delete" are the Delete key's commands.
    w.actOutDelete->trigger();
    QCOMPARE(Captions(w.lvOut), QStringList{"pic0.bmp"});
    QVERIFY(!QFile::exists(f.results + QStringLiteral("pic1.bmp")));
    w.actInRemove->trigger();
    QCOMPARE(Captions(w.lvIn), QStringList{"pic1.bmp"});
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestTrayCommands::noProgramToOpenIsABox() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    w.Record().UseIntViewer = false;
    w.RunBatch(f.MakeSources(1));
    // The opener finds no program (its exit code says so): a box names the file and why.
    w.Shell()->OpenCommand = FakeOpener(f.dir, 3);
    SelectOnly(w.lvOut, {0});
    w.lvOutDblClick();
    QVERIFY(WaitFor([&] { return !boxes.boxes.empty(); }));
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Error"));
    QVERIFY2(boxes.boxes[0].text.contains(QStringLiteral("\"pic0.bmp\"")), qPrintable(boxes.Texts()));
    QVERIFY2(boxes.boxes[0].text.contains(QStringLiteral("no method available")), qPrintable(boxes.Texts()));
    QCOMPARE(int(ViewerList().size()), 0);
    // A working opener: no box.
    boxes.boxes.clear();
    w.Shell()->OpenCommand = FakeOpener(f.dir, 0);
    w.lvOutDblClick();
    QVERIFY(WaitFor([&] { return OpenedLog(f.dir).size() == 2; }));
    QTest::qWait(50);
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestTrayCommands::keysOfTheWindows() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    int chosen = 0;
    w.ChooseFiles = [&](QWidget*) {
        ++chosen;
        return QStringList();
    };
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(chosen, 1);

    QTest::keyClick(&w, Qt::Key_F1);
    TfrmHelp* help = w.HelpWindow();
    QVERIFY(help && help->isVisible());
    QVERIFY(help->RichEdit1->toPlainText().contains(QStringLiteral("\"In\" tray")));
    QVERIFY(!help->RichEdit1->toPlainText().contains(QStringLiteral("basket")));
    for (const QKeyCombination key : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
        help->show();
        help->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(help));
        QTest::keyClick(help, key.key(), key.keyboardModifiers());
        QVERIFY2(!help->isVisible(), qPrintable(QKeySequence(key).toString()));
    }

    const QString pic = f.sources + QStringLiteral("v.bmp");
    WriteBmp(pic, 50, 40);
    for (const QKeyCombination key : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
        TfrmViewer* v = TfrmViewer::Open(&w, pic);
        v->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(v));
        QTest::keyClick(v, key.key(), key.keyboardModifiers());
        QVERIFY2(ViewerList().empty(), qPrintable(QKeySequence(key).toString()));
    }

    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!w.isVisible());
}

void TestTrayCommands::acceleratorsAreUniquePerWindow() {
    WindowFixture f;
    TfrmSettings settings(f.window.get());
    TfrmHelp help(nullptr);
    TfrmProcess progress(f.window.get());
    struct Case {
        const char* name;
        QWidget* window;
        int atLeast;  // letters the window is known to use
    } cases[] = {
        {"main window", f.window.get(), 13}, {"settings", &settings, 1}, {"help", &help, 0}, {"progress", &progress, 0}};
    for (const Case& c : cases) {
        const std::map<QChar, QStringList> letters = Mnemonics(c.window);
        for (const auto& [letter, users] : letters)
            QVERIFY2(users.size() == 1, qPrintable(QStringLiteral("%1: '%2' is used by %3")
                                                       .arg(QString::fromUtf8(c.name), QString(letter), users.join(", "))));
        QVERIFY2(int(letters.size()) >= c.atLeast, c.name);
    }
    // And within each tray menu.
    for (QMenu* menu : {f.window->TrayMenu(TTray::In), f.window->TrayMenu(TTray::Out)}) {
        QStringList seen;
        for (QAction* a : menu->actions()) {
            const int amp = a->text().indexOf(u'&');
            if (amp < 0) continue;
            const QString letter = a->text().mid(amp + 1, 1).toLower();
            QVERIFY2(!seen.contains(letter), qPrintable(a->text()));
            seen << letter;
        }
    }
}

void TestTrayCommands::focusReturnsToTheInTrayAfterABatch() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.txtWidth->setEnabled(true);
    w.txtWidth->setFocus();
    DropOnIn(w, f.MakeSources(2));
    QVERIFY(WaitFor([&] { return w.lvOut->count() == 2 && !w.BatchRunning(); }));
    QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.lvIn));
}

void TestTrayCommands::windowPlacesRoundTrip() {
    BoxRecorder boxes;
    WindowFixture f;
    SettingsLocation location;
    location.IniFile = f.IniFile().toStdString();
    const QString pic = f.sources + QStringLiteral("v.bmp");
    WriteBmp(pic, 300, 200);
    {
        TfrmMain& w = *f.window;
        w.show();
        w.setGeometry(40, 50, 700, 420);
        TfrmViewer* v = TfrmViewer::Open(&w, pic);
        QCOMPARE(v->size(), QSize(300, 200));  // as large as the picture
        v->resize(250, 180);                   // the user's size
        v->move(60, 70);
        w.close();  // closes the viewer too, and saves
        f.window.reset();
    }
    const StoredWindowPlaces stored = LoadWindowPlaces(location);
    QVERIFY(!stored.MainWindow.isEmpty());
    QCOMPARE(stored.ViewerSize, std::optional<QSize>(QSize(250, 180)));
    QVERIFY(stored.ViewerPosition.has_value());

    TfrmViewer::RememberedPlacement() = {};
    TfrmMain again(location);
    again.show();
    QCOMPARE(again.size(), QSize(700, 420));
    QCOMPARE(TfrmViewer::RememberedPlacement().Size, std::optional<QSize>(QSize(250, 180)));
    QCOMPARE(TfrmViewer::RememberedPlacement().Position, stored.ViewerPosition);
    // A larger picture opens in the remembered size, fitted; a smaller one still shrinks it.
    TfrmViewer* v = TfrmViewer::Open(&again, pic);
    QCOMPARE(v->size(), QSize(250, 180));
    QVERIFY(v->Zoom() < 1.0);
    const QString small = f.sources + QStringLiteral("s.bmp");
    WriteBmp(small, 100, 80);
    QCOMPARE(TfrmViewer::Open(&again, small)->size(), QSize(100, 80));
    // A value of the wrong type is no place at all.
    QSettings(f.IniFile(), QSettings::IniFormat).setValue(kViewerSizeValue, QStringLiteral("big"));
    QVERIFY(!LoadWindowPlaces(location).ViewerSize.has_value());
}

void TestTrayCommands::viewerZoom() {
    struct FitCase {
        QSize picture, limit, window;
        double zoom;
    } fits[] = {
        {{100, 80}, {800, 600}, {100, 80}, 1.0},
        {{800, 600}, {800, 600}, {800, 600}, 1.0},
        {{2000, 1500}, {800, 600}, {800, 600}, 0.4},
        {{1000, 100}, {800, 600}, {800, 80}, 0.8},
        {{100, 3000}, {800, 600}, {20, 600}, 0.2},
    };
    for (const FitCase& c : fits) {
        const TfrmViewer::Fit got = TfrmViewer::FitPicture(c.picture, c.limit);
        QVERIFY2(got.Window == c.window && std::abs(got.Zoom - c.zoom) < 1e-9,
                 qPrintable(QStringLiteral("%1x%2 in %3x%4: have %5x%6 at %7")
                                .arg(c.picture.width()).arg(c.picture.height()).arg(c.limit.width())
                                .arg(c.limit.height()).arg(got.Window.width()).arg(got.Window.height()).arg(got.Zoom)));
    }

    BoxRecorder boxes;
    WindowFixture f;
    f.window->show();
    const QString big = f.sources + QStringLiteral("big.bmp");
    WriteBmp(big, 2000, 1500);
    TfrmViewer* v = TfrmViewer::Open(f.window.get(), big);
    v->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(v));
    const double fitted = v->Zoom();
    QVERIFY(fitted < 1.0);
    QVERIFY(v->windowTitle().startsWith(QStringLiteral("big.bmp (")));
    QTest::keyClick(v, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(v->Zoom(), 1.0);
    QCOMPARE(v->windowTitle(), QStringLiteral("big.bmp"));
    QCOMPARE(v->imgImage->size(), QSize(2000, 1500));
    QVERIFY(v->horizontalScrollBar()->maximum() > 0 && v->verticalScrollBar()->maximum() > 0);
    QTest::keyClick(v, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(v->Zoom(), 0.8);
    QCOMPARE(v->imgImage->size(), QSize(1600, 1200));
    QCOMPARE(v->windowTitle(), QStringLiteral("big.bmp (80 %)"));
    QTest::keyClick(v, Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(v->Zoom(), 1.0);
    QTest::keyClick(v, Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(v->Zoom(), 1.25);
    // Zooming in is bounded, so the enlarged copy stays at 32 megapixels or less.
    for (int i = 0; i < 12; ++i) v->ZoomIn();
    QVERIFY2(2000.0 * v->Zoom() * 1500.0 * v->Zoom() <= double(1 << 25) * 1.0001, qPrintable(QString::number(v->Zoom())));
    QVERIFY(v->Zoom() > 1.25);
    QVERIFY(boxes.boxes.empty());
}

IMBRIX_GUI_TEST(TestTrayCommands);
#include "tray_commands_test.moc"
