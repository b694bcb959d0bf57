// Drag and drop: the drop effect rule, what the In tray accepts, and what a drag out of
// the Out tray carries.
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QUrl>

#include "app/window/drop_binding.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

class TestDragDrop : public QObject {
    Q_OBJECT
private slots:
    void dropEffectRule();
    void inTrayTakesOnlyFileLists();
    void eachDropIsKept();
    void dragOutCarriesSelectedResultsInTrayOrder();
};

void TestDragDrop::dropEffectRule() {
    const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    // A plain drag asks for move, which is never taken: it becomes a copy.
    QCOMPARE(ChooseDropEffect(Qt::NoModifier, all), Qt::CopyAction);
    QCOMPARE(ChooseDropEffect(Qt::ControlModifier, all), Qt::CopyAction);
    QCOMPARE(ChooseDropEffect(Qt::ControlModifier | Qt::ShiftModifier, all), Qt::LinkAction);
    QCOMPARE(ChooseDropEffect(Qt::ShiftModifier, all), Qt::CopyAction);
    // Only what the source offers.
    QCOMPARE(ChooseDropEffect(Qt::NoModifier, Qt::MoveAction | Qt::LinkAction), Qt::LinkAction);
    QCOMPARE(ChooseDropEffect(Qt::ControlModifier | Qt::ShiftModifier, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    QCOMPARE(ChooseDropEffect(Qt::NoModifier, Qt::MoveAction), Qt::IgnoreAction);
    QCOMPARE(ChooseDropEffect(Qt::ControlModifier, Qt::DropActions()), Qt::IgnoreAction);

    QVERIFY(!DragThresholdReached(QPoint(50, 50), QPoint(59, 59)));
    QVERIFY(!DragThresholdReached(QPoint(50, 50), QPoint(41, 41)));
    QVERIFY(DragThresholdReached(QPoint(50, 50), QPoint(60, 50)));
    QVERIFY(DragThresholdReached(QPoint(50, 50), QPoint(50, 40)));
}

void TestDragDrop::inTrayTakesOnlyFileLists() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(1);

    // With Ctrl+Shift the drop links; the files are processed as for a copy.
    QCOMPARE(DropOnIn(w, sources, Qt::ControlModifier | Qt::ShiftModifier), Qt::LinkAction);
    QVERIFY(WaitFor([&] { return w.lvOut->count() == 1; }));

    // A source that offers only move is refused.
    QCOMPARE(DropOnIn(w, sources, Qt::NoModifier, Qt::MoveAction), Qt::IgnoreAction);
    // Data without file URLs is refused: text, and web addresses.
    QMimeData text;
    text.setText(QStringLiteral("/tmp/picture.bmp"));
    QDropEvent textDrop(QPointF(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.lvIn->viewport(), &textDrop);
    QVERIFY(!textDrop.isAccepted());
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.invalid/a.jpg"))});
    QDropEvent webDrop(QPointF(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.lvIn->viewport(), &webDrop);
    QVERIFY(!webDrop.isAccepted());
    QCOMPARE(w.PendingDropCount(), size_t(0));
    QTest::qWait(20);
    QCOMPARE(w.lvIn->count(), 1);

    // A drop on the Out tray is not taken either.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(sources[0])});
    QDropEvent outDrop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.lvOut->viewport(), &outDrop);
    QCOMPARE(w.PendingDropCount(), size_t(0));
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestDragDrop::eachDropIsKept() {
    // Two drops before the window gets to them: both lists are processed, in order.
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList a = f.MakeSources(2, 40, 30, QStringLiteral("a"));
    const QStringList b = f.MakeSources(1, 40, 30, QStringLiteral("b"));
    DropOnIn(w, a);
    DropOnIn(w, b);
    QCOMPARE(w.PendingDropCount(), size_t(2));
    QVERIFY(WaitFor([&] { return w.lvIn->count() == 3 && !w.BatchRunning(); }));
    QCOMPARE(w.lvIn->item(2)->text(), QStringLiteral("b0.bmp"));
    QCOMPARE(w.PendingDropCount(), size_t(0));
}

namespace {
void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
}
}  // namespace

void TestDragDrop::dragOutCarriesSelectedResultsInTrayOrder() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    w.RunBatch(f.MakeSources(5));
    QCOMPARE(w.lvOut->count(), 5);
    QList<QStringList> drags;
    w.DragSource()->SetRunner([&](const QStringList& files) {
        drags << files;
        return Qt::CopyAction;
    });
    QWidget* vp = w.lvOut->viewport();
    const QPoint start(3, 3);

    // Nothing selected: no drag.
    w.lvOut->clearSelection();
    w.lvOutMouseDown(start);
    QVERIFY(!w.lvOutMouseMove(Qt::LeftButton, start + QPoint(30, 0)));
    QVERIFY(drags.isEmpty());

    // Select items 3, 0 and 4 (in that order): the drag lists them in tray order.
    w.lvOut->item(3)->setSelected(true);
    w.lvOut->item(0)->setSelected(true);
    w.lvOut->item(4)->setSelected(true);
    const QPoint pressed = w.lvOut->visualItemRect(w.lvOut->item(0)).center();
    SendMouse(vp, QEvent::MouseButtonPress, pressed, Qt::LeftButton);
    // Pressing on one of the selected items keeps the others selected, so they go together.
    QCOMPARE(w.lvOut->selectedItems().size(), 3);
    // 9 pixels on both axes is not enough; no button held is never a drag.
    SendMouse(vp, QEvent::MouseMove, pressed + QPoint(9, 9), Qt::LeftButton);
    SendMouse(vp, QEvent::MouseMove, pressed + QPoint(40, 0), Qt::NoButton);
    QVERIFY(drags.isEmpty());
    SendMouse(vp, QEvent::MouseMove, pressed + QPoint(0, 10), Qt::LeftButton);
    QCOMPARE(drags.size(), 1);
    QCOMPARE(drags[0], (QStringList{f.results + "pic0.bmp", f.results + "pic3.bmp", f.results + "pic4.bmp"}));
    // The right button drags too.
    QVERIFY(w.lvOutMouseMove(Qt::RightButton, pressed + QPoint(-10, 0)));
    QCOMPARE(drags.size(), 2);

    // A caption edited in place renames the file, and a drag hands over the new name.
    w.lvOut->item(0)->setText(QStringLiteral("holiday.bmp"));
    QVERIFY(w.lvOutMouseMove(Qt::LeftButton, pressed + QPoint(0, -12)));
    QCOMPARE(drags.last(), (QStringList{f.results + "holiday.bmp", f.results + "pic3.bmp", f.results + "pic4.bmp"}));
    QVERIFY(!QFile::exists(f.results + "pic0.bmp"));
    QVERIFY(QFile::exists(f.results + "holiday.bmp"));
    QVERIFY(w.lvOut->item(0)->flags().testFlag(Qt::ItemIsEditable));
    QVERIFY(!w.lvIn->item(0)->flags().testFlag(Qt::ItemIsEditable));

    // What the real drag offers: file URLs of those paths.
    std::unique_ptr<QMimeData> data(MimeForFilePaths(drags.last()));
    QCOMPARE(FilePathsFromMime(data.get()), drags.last());
    // The results stay where they are.
    QCOMPARE(f.ResultFiles().size(), 5);
}

IMBRIX_GUI_TEST(TestDragDrop);
#include "drag_drop_test.moc"
