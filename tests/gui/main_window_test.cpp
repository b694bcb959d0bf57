// The main window: layout arithmetic, the scale controls, batches started by drops and
// buttons, the trays' texts, clearing, reprocessing, cancelling and closing.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include "app/window/progress_dialog.h"
#include "dialogs/viewer.h"
#include "graphics/file_format_list.h"
#include "graphics/warning_sink.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void columnsShareTheWidth();
    void percentSignSwitchesTheUnit();
    void specialControlsFollowTheScaleChoice();
    void dropIsProcessedAfterItReturns();
    void addFilesRunsTheChosenFiles();
    void dropDuringABatchIsQueued();
    void summaryAndTipTexts();
    void clearTraysDeletesOnlyListedResults();
    void reprocessUsesTheNewSettings();
    void invalidSpecialFieldsStopTheBatch();
    void mixedDropConvertsEveryGoodFileAndListsTheBadOnes();
    void cancelFinishesTheCurrentFile();
    void cancelDuringABigSecondFileStopsAfterIt();
    void closeSavesThenDestroyDeletesResults();
    void quitDuringABatchStopsIt();
    void startupReportsBadStoredValues();
    void codecWarningsShowAWarningBox();
};

void TestMainWindow::columnsShareTheWidth() {
    // The outer widths 401 and 630 of a window with a 4-pixel frame are these client widths.
    ColumnGeometry narrow = ComputeColumns(401 - 8, 0, 145);
    QCOMPARE(narrow.InWidth, 124);
    QCOMPARE(narrow.OutWidth, 124);
    ColumnGeometry design = ComputeColumns(630 - 8, 0, 145);
    QCOMPARE(design.InWidth, 238);
    QCOMPARE(design.OutWidth, 239);  // the odd pixel goes to the Out tray
    QCOMPARE(design.OutLeft, 145);

    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    // The style's margins at the window's edges, its spacing between the parts of a tray.
    const QStyle* st = w.style();
    const int left = st->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, &w), top = st->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, &w);
    const int right = st->pixelMetric(QStyle::PM_LayoutRightMargin, nullptr, &w);
    const int bottom = st->pixelMetric(QStyle::PM_LayoutBottomMargin, nullptr, &w);
    QVERIFY(left > 0 && top > 0 && right > 0 && bottom > 0);
    QCOMPARE(w.minimumWidth(), 393);
    QVERIFY(w.minimumHeight() >= TfrmMain::kDesignClientHeight);
    w.resize(100, 100);  // held at the minimum
    QCOMPARE(w.width(), 393);
    QCOMPARE(w.pnlIn->width(), 124);
    QCOMPARE(w.pnlOut->width(), 124);
    QCOMPARE(w.pnlOut->x(), 124 + 145);
    QCOMPARE(w.lvIn->x(), left);
    QCOMPARE(w.lvOut->geometry().right() + 1, 124 - right);
    QCOMPARE(w.Label2->y(), top);
    QCOMPARE(w.butAddFile->x(), (124 - left - 89) / 2);
    // "Clear Trays" stays above the bottom row at the minimum height.
    QVERIFY(w.butClearTrays->geometry().bottom() < w.butHelp->y());

    w.resize(622, 368);
    QCOMPARE(w.pnlIn->width(), 238);
    QCOMPARE(w.pnlProcess->x(), 238);
    QCOMPARE(w.pnlOut->x(), 238 + 145);
    QCOMPARE(w.pnlOut->width(), 239);
    QCOMPARE(w.pnlOut->x() + w.pnlOut->width(), w.width());
    QCOMPARE(w.butAddFile->x(), (238 - left - 89) / 2);
    QCOMPARE(w.butSelectAll->x(), (239 - right - 89) / 2);
    // Heights follow the window; the trays' parts stack in order, the spacing between them,
    // and Help and Quit share the bottom row with the trays' buttons.
    for (const QSize size : {QSize(900, 700), QSize(393, w.minimumHeight())}) {
        w.resize(size);
        const int h = w.height();
        QCOMPARE(w.pnlIn->height(), h);
        QVERIFY(w.Label2->geometry().bottom() < w.lvIn->y());
        QVERIFY(w.lvIn->geometry().bottom() < w.pnlInDetail->y());
        QVERIFY(w.pnlInDetail->geometry().bottom() < w.pnlInButton->y());
        QCOMPARE(w.pnlInButton->geometry().bottom() + 1, h - bottom);
        const int row = w.butAddFile->mapTo(&w, QPoint(0, 0)).y();
        QCOMPARE(w.butSelectAll->mapTo(&w, QPoint(0, 0)).y(), row);
        QCOMPARE(w.butHelp->mapTo(&w, QPoint(0, 0)).y(), row);
        QCOMPARE(w.butQuit->mapTo(&w, QPoint(0, 0)).y(), row);
    }
    QCOMPARE(w.pnlIn->width(), w.pnlOut->width() - (393 - 145) % 2);
}

void TestMainWindow::percentSignSwitchesTheUnit() {
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    w.rbSpecial->setChecked(true);
    QTest::keyClicks(w.txtWidth, QStringLiteral("50%"));
    QCOMPARE(w.txtWidth->text(), QStringLiteral("50"));
    QCOMPARE(w.cboWidthUnits->currentText(), QStringLiteral("%"));
    // Typing on never switches back to pixels.
    QTest::keyClicks(w.txtWidth, QStringLiteral("0"));
    QCOMPARE(w.txtWidth->text(), QStringLiteral("500"));
    QCOMPARE(w.cboWidthUnits->currentText(), QStringLiteral("%"));

    // A percent sign typed between the digits is left alone.
    QTest::keyClicks(w.txtHeight, QStringLiteral("50"));
    w.txtHeight->setCursorPosition(1);
    QTest::keyClicks(w.txtHeight, QStringLiteral("%"));
    QCOMPARE(w.txtHeight->text(), QStringLiteral("5%0"));
    QCOMPARE(w.cboHeightUnits->currentText(), QStringLiteral("px"));
    QCOMPARE(w.cboWidthUnits->currentText(), QStringLiteral("%"));
}

void TestMainWindow::specialControlsFollowTheScaleChoice() {
    auto specialStates = [](TfrmMain& w) {
        QList<bool> states;
        for (QWidget* c : std::initializer_list<QWidget*>{w.lblWidth, w.lblHeight, w.txtWidth, w.txtHeight,
                                                          w.cboWidthUnits, w.cboHeightUnits})
            states << c->isEnabled();
        return states;
    };
    const QList<bool> allOn(6, true), allOff(6, false);
    {
        WindowFixture f;
        TfrmMain& w = *f.window;
        w.show();
        QVERIFY(w.rbHalfSize->isChecked());
        QCOMPARE(specialStates(w), allOff);
        QTest::mouseClick(w.rbSpecial, Qt::LeftButton);
        QCOMPARE(specialStates(w), allOn);
        QTest::mouseClick(w.rbQuarterSize, Qt::LeftButton);
        QCOMPARE(specialStates(w), allOff);
        QTest::mouseClick(w.rbSpecial, Qt::LeftButton);
        QTest::mouseClick(w.rbFullSize, Qt::LeftButton);
        QCOMPARE(specialStates(w), allOff);
        // The choice is saved at close...
        QTest::mouseClick(w.rbSpecial, Qt::LeftButton);
        w.txtWidth->setText(QStringLiteral("640"));
        w.cboHeightUnits->setCurrentIndex(1);
        w.cboRotate->setCurrentIndex(3);
        w.close();
        // ...and a window started on it has the Special controls enabled.
        SettingsLocation location;
        location.IniFile = f.IniFile().toStdString();
        TfrmMain again(location);
        QVERIFY(again.rbSpecial->isChecked());
        QCOMPARE(specialStates(again), allOn);
        QCOMPARE(again.txtWidth->text(), QStringLiteral("640"));
        QCOMPARE(again.cboHeightUnits->currentText(), QStringLiteral("%"));
        QCOMPARE(again.cboRotate->currentIndex(), 3);
    }
}

void TestMainWindow::dropIsProcessedAfterItReturns() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(3);
    QCOMPARE(DropOnIn(w, sources), Qt::CopyAction);
    // The drop only queued the list: nothing has been read yet.
    QCOMPARE(w.lvIn->count(), 0);
    QCOMPARE(w.lvOut->count(), 0);
    QCOMPARE(w.PendingDropCount(), size_t(1));
    QVERIFY(WaitFor([&] { return w.lvOut->count() == 3 && !w.BatchRunning(); }));
    QCOMPARE(w.lvIn->count(), 3);
    QCOMPARE(w.PendingDropCount(), size_t(0));
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
    QCOMPARE(w.lvIn->item(0)->text(), QStringLiteral("pic0.bmp"));
    QCOMPARE(w.lvOut->item(2)->text(), QStringLiteral("pic2.bmp"));
    QCOMPARE(f.ResultFiles(), (QStringList{"pic0.bmp", "pic1.bmp", "pic2.bmp"}));
    // The results are half the size of the sources (the default scale).
    TBitmap result;
    result.ReadPictureFile((f.results + QStringLiteral("pic2.bmp")).toStdString());
    QCOMPARE(result.Width(), 21);
    QCOMPARE(result.Height(), 15);
    // Icons are 64 x 48 thumbnails.
    QCOMPARE(w.lvIn->item(0)->icon().availableSizes().value(0), QSize(64, 48));
    // No progress dialog and no busy cursor are left behind.
    QVERIFY(w.ProgressDialog() == nullptr);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestMainWindow::addFilesRunsTheChosenFiles() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(3);
    QStringList answer = {sources[2], sources[0]};
    w.ChooseFiles = [&](QWidget*) { return answer; };
    QTest::mouseClick(w.butAddFile, Qt::LeftButton);
    QCOMPARE(w.lvIn->count(), 2);
    QCOMPARE(w.lvIn->item(0)->text(), QStringLiteral("pic2.bmp"));  // in the dialog's order
    answer.clear();  // cancelled
    QTest::mouseClick(w.butAddFile, Qt::LeftButton);
    QCOMPARE(w.lvIn->count(), 2);
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));

    // The dialog shows the descriptions as they stand and matches either letter case.
    const QStringList filters = OpenDialogNameFilters();
    QCOMPARE(filters.size(), 7);
    QCOMPARE(filters[0], QStringLiteral("All Files (*.*) (*)"));
    QCOMPARE(filters[5], QStringLiteral(".tif, .tiff (Tag Image File Format) (*.tif *.TIF *.tiff *.TIFF)"));
    // The last filter offers every extension a picture class is registered for, and gif.
    const QString all = filters[6];
    const QString patternList = all.mid(all.lastIndexOf(u'(') + 1).chopped(1);
    const QStringList patterns = patternList.split(u' ');
    QStringList wanted{QStringLiteral("gif")};
    for (const auto& entry : FileFormatList().Extensions()) wanted << QString::fromStdString(entry->extension);
    for (const QString& ext : wanted) {
        QVERIFY2(patterns.contains(QStringLiteral("*.") + ext), qPrintable(ext));
        QVERIFY2(patterns.contains(QStringLiteral("*.") + ext.toUpper()), qPrintable(ext));
    }
}

void TestMainWindow::dropDuringABatchIsQueued() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList first = f.MakeSources(2, 40, 30, QStringLiteral("a"));
    const QStringList second = f.MakeSources(1, 40, 30, QStringLiteral("b"));
    bool droppedDuringBatch = false;
    QList<bool> buttonsDuringBatch;
    // Fires inside the first batch, when its progress steps let events through.
    QTimer::singleShot(0, &w, [&] {
        droppedDuringBatch = w.BatchRunning();
        for (QPushButton* b : {w.butAddFile, w.butReprocess, w.butClearTrays, w.butAdvanced})
            buttonsDuringBatch << b->isEnabled();
        DropOnIn(w, second);
    });
    w.RunBatch(first);
    QVERIFY(droppedDuringBatch);
    QCOMPARE(buttonsDuringBatch, (QList<bool>{false, false, false, false}));
    // The first batch finished whole; the queued drop runs afterwards, on its own.
    QVERIFY(WaitFor([&] { return w.lvIn->count() == 3 && !w.BatchRunning(); }));
    QStringList captions;
    for (int i = 0; i < w.lvIn->count(); ++i) captions << w.lvIn->item(i)->text();
    QCOMPARE(captions, (QStringList{"a0.bmp", "a1.bmp", "b0.bmp"}));
    QCOMPARE(w.lvOut->count(), 3);
    QVERIFY(w.butClearTrays->isEnabled());
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestMainWindow::summaryAndTipTexts() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QCOMPARE(w.pnlInDetail->text(), QString());
    QCOMPARE(w.pnlOutDetail->text(), QString());
    const QString source = f.sources + QStringLiteral("photo.bmp");
    WriteBmp(source, 1000, 750);
    w.RunBatch({source});
    QCOMPARE(w.lvOut->count(), 1);
    const qint64 inSize = QFileInfo(source).size();
    const qint64 outSize = QFileInfo(f.results + QStringLiteral("photo.bmp")).size();
    QLocale locale;
    auto kilo = [&](qint64 bytes) { return locale.toString(double(bytes) / 1024.0, 'f', 1) + u'K'; };
    QCOMPARE(w.pnlInDetail->text(), QStringLiteral("1 files, total size: ") + kilo(inSize));
    QCOMPARE(w.pnlOutDetail->text(), QStringLiteral("1 files, total size: ") + kilo(outSize));
    QCOMPARE(w.pnlInDetail->alignment(), Qt::AlignCenter);

    QCOMPARE(w.lvInInfoTip(0), source + QStringLiteral("\nWidth: 1000\nHeight: 750\nFilesize: ") + kilo(inSize));
    QCOMPARE(w.lvOutInfoTip(0), f.results + QStringLiteral("photo.bmp\nWidth: 500\nHeight: 375\nFilesize: ") +
                                    kilo(outSize));
    QVERIFY(w.lvOutInfoTip(1).isEmpty());  // no such item
    // Hovering asks the tip of the item under the pointer.
    const QRect r = w.lvOut->visualItemRect(w.lvOut->item(0));
    QHelpEvent hover(QEvent::ToolTip, r.center(), w.lvOut->viewport()->mapToGlobal(r.center()));
    QCoreApplication::sendEvent(w.lvOut->viewport(), &hover);
    QCOMPARE(QToolTip::text(), w.lvOutInfoTip(0));
    QToolTip::hideText();
    // A result removed behind our back no longer shows its old size.
    QFile::remove(f.results + QStringLiteral("photo.bmp"));
    const QString gone = w.lvOutInfoTip(0);
    QVERIFY2(gone.contains(QStringLiteral("Filesize: -")) && !gone.endsWith(kilo(outSize)), qPrintable(gone));
}

void TestMainWindow::clearTraysDeletesOnlyListedResults() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(2);
    // A source that lies in the working directory, and a stranger there.
    const QString local = f.results + QStringLiteral("local.bmp");
    WriteBmp(local, 20, 20);
    const QString stranger = f.results + QStringLiteral("notes.txt");
    QFile(stranger).open(QIODevice::WriteOnly);
    w.RunBatch(sources + QStringList{local});
    QCOMPARE(w.lvOut->count(), 3);
    QCOMPARE(f.ResultFiles(), (QStringList{"local-1.bmp", "local.bmp", "notes.txt", "pic0.bmp", "pic1.bmp"}));

    QTest::mouseClick(w.butClearTrays, Qt::LeftButton);
    QCOMPARE(w.lvIn->count(), 0);
    QCOMPARE(w.lvOut->count(), 0);
    QCOMPARE(w.Trays().Count(TTray::Out), size_t(0));
    QCOMPARE(f.ResultFiles(), (QStringList{"local.bmp", "notes.txt"}));
    for (const QString& s : sources) QVERIFY2(QFile::exists(s), qPrintable(s));
    QCOMPARE(w.pnlInDetail->text(), QString());
    QCOMPARE(w.pnlOutDetail->text(), QString());
}

void TestMainWindow::reprocessUsesTheNewSettings() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(2, 40, 30);
    w.RunBatch(sources);
    QCOMPARE(f.ResultFiles(), (QStringList{"pic0.bmp", "pic1.bmp"}));
    // Full size, turned right: the first result becomes 30 x 40.
    w.rbFullSize->setChecked(true);
    w.cboRotate->setCurrentIndex(1);
    QTest::mouseClick(w.butReprocess, Qt::LeftButton);
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
    QCOMPARE(w.lvIn->count(), 2);
    QCOMPARE(w.lvOut->count(), 2);
    // The old results were deleted before the new ones took their names.
    QCOMPARE(f.ResultFiles(), (QStringList{"pic0.bmp", "pic1.bmp"}));
    TBitmap result;
    result.ReadPictureFile((f.results + QStringLiteral("pic0.bmp")).toStdString());
    QCOMPARE(result.Width(), 30);
    QCOMPARE(result.Height(), 40);
    QVERIFY(w.lvOutInfoTip(1).contains(QStringLiteral("\nWidth: 30\nHeight: 41\n")));

    // Reprocessing an empty In tray shows and closes the progress, changing nothing.
    QTest::mouseClick(w.butClearTrays, Qt::LeftButton);
    QTest::mouseClick(w.butReprocess, Qt::LeftButton);
    QCOMPARE(w.lvOut->count(), 0);
    QVERIFY(w.ProgressDialog() == nullptr);
}

void TestMainWindow::invalidSpecialFieldsStopTheBatch() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(1, 40, 30);
    w.RunBatch(sources);
    QCOMPARE(f.ResultFiles().size(), 1);
    w.rbSpecial->setChecked(true);
    w.txtWidth->setText(QStringLiteral("abc"));
    QTest::mouseClick(w.butReprocess, Qt::LeftButton);
    // The fields were refused before anything was cleared: both trays and the result stay.
    QCOMPARE(w.lvIn->count(), 1);
    QCOMPARE(w.lvOut->count(), 1);
    QCOMPARE(f.ResultFiles().size(), 1);
    QCOMPARE(int(boxes.boxes.size()), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(boxes.boxes[0].text, QString::fromUtf8(kSpecialSizeMessage));

    // A width alone: the empty height follows it in the picture's proportions.
    boxes.boxes.clear();
    w.txtWidth->setText(QStringLiteral("20"));
    w.txtHeight->setText(QString());
    QTest::mouseClick(w.butReprocess, Qt::LeftButton);
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
    QCOMPARE(w.lvOut->count(), 1);
    QCOMPARE(w.Trays().Entries(TTray::Out)[0].Data.Width, 20);
    QCOMPARE(w.Trays().Entries(TTray::Out)[0].Data.Height, 15);
}

void TestMainWindow::mixedDropConvertsEveryGoodFileAndListsTheBadOnes() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QStringList sources = f.MakeSources(4);
    const QString odd = f.sources + QStringLiteral("notes.txt");
    QFile(odd).open(QIODevice::WriteOnly);
    const QString broken = f.sources + QStringLiteral("broken.bmp");
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BM and no more");
    }
    sources.insert(1, odd);
    sources.insert(3, broken);
    QCOMPARE(DropOnIn(w, sources), Qt::CopyAction);
    QVERIFY(WaitFor([&] { return !w.BatchRunning() && w.lvIn->count() == 6; }));
    QCOMPARE(f.ResultFiles(), (QStringList{"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}));
    QCOMPARE(w.lvOut->count(), 4);
    // One box at the end, naming exactly the two bad files with the readers' messages.
    QCOMPARE(int(boxes.boxes.size()), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Error"));
    const QStringList lines = boxes.boxes[0].text.split(u'\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("2 of 6 files could not be converted:"));
    QCOMPARE(lines[1], QStringLiteral("notes.txt: Unknown picture file extension (.txt)"));
    QVERIFY2(lines[2].startsWith(QStringLiteral("broken.bmp: ")), qPrintable(lines[2]));
    // Both stay in the In tray, marked, so Reprocess tries them again.
    QVERIFY2(w.lvInInfoTip(1).contains(QStringLiteral("Not converted: Unknown picture file extension (.txt)")),
             qPrintable(w.lvInInfoTip(1)));
    QVERIFY(w.lvInInfoTip(3).contains(QStringLiteral("Not converted: ")));
    QVERIFY(!w.lvInInfoTip(0).contains(QStringLiteral("Not converted")));
    QVERIFY(w.pnlInDetail->text().startsWith(QStringLiteral("6 files, ")));
    QVERIFY(w.ProgressDialog() == nullptr);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(w.butReprocess->isEnabled());

    // With StopAtFirstError the batch stops as it used to: the reader's error stops it.
    boxes.boxes.clear();
    w.Record().StopAtFirstError = true;
    QTest::mouseClick(w.butReprocess, Qt::LeftButton);
    QCOMPARE(int(boxes.boxes.size()), 1);
    QCOMPARE(boxes.boxes[0].title, QString::fromUtf8(kApplicationTitle));
    QVERIFY2(boxes.boxes[0].text.contains(QStringLiteral(".txt")), qPrintable(boxes.Texts()));
    QCOMPARE(f.ResultFiles(), QStringList{"pic0.bmp"});
    QCOMPARE(w.lvIn->count(), 6);
    QCOMPARE(w.lvOut->count(), 1);
}

void TestMainWindow::cancelFinishesTheCurrentFile() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(5);
    int maximum = -1;
    QTimer poll;
    poll.setInterval(0);
    // Press Cancel as soon as the second file is shown.
    connect(&poll, &QTimer::timeout, &w, [&] {
        TfrmProcess* p = w.ProgressDialog();
        if (!p) return;
        maximum = p->pbProgress->maximum();
        if (p->lblFilename->text().contains(QStringLiteral("pic1")) && !p->Cancelled())
            QTest::mouseClick(p->butCancel, Qt::LeftButton);
    });
    poll.start();
    w.RunBatch(sources);
    poll.stop();
    QCOMPARE(maximum, 30);
    // The files not started stay listed, marked, for the next Reprocess.
    QCOMPARE(w.lvIn->count(), 5);
    QVERIFY(w.lvInInfoTip(2).contains(QString::fromUtf8(kCancelledReason)));
    QVERIFY(!w.lvInInfoTip(1).contains(QStringLiteral("Not converted")));
    QCOMPARE(w.lvOut->count(), 2);
    QCOMPARE(f.ResultFiles(), (QStringList{"pic0.bmp", "pic1.bmp"}));
    QVERIFY(w.pnlOutDetail->text().startsWith(QStringLiteral("2 files, ")));
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

// Big files: the third is being read ahead while the second is worked on when Cancel is
// pressed. The window keeps handling events all the while, and nothing of the third file is
// left on disk or in the Out tray.
void TestMainWindow::cancelDuringABigSecondFileStopsAfterIt() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(4, 1600, 1200, QStringLiteral("big"));
    int ticksDuringSecond = 0;
    QTimer poll;
    poll.setInterval(0);
    connect(&poll, &QTimer::timeout, &w, [&] {
        TfrmProcess* p = w.ProgressDialog();
        if (!p || !p->lblFilename->text().contains(QStringLiteral("big1"))) return;
        ++ticksDuringSecond;
        if (!p->Cancelled()) QTest::mouseClick(p->butCancel, Qt::LeftButton);
    });
    poll.start();
    w.RunBatch(sources);
    poll.stop();
    QVERIFY2(ticksDuringSecond >= 2, qPrintable(QString::number(ticksDuringSecond)));
    QCOMPARE(f.ResultFiles(), (QStringList{"big0.bmp", "big1.bmp"}));
    QCOMPARE(w.lvOut->count(), 2);
    QCOMPARE(w.lvIn->count(), 4);
    for (int i : {2, 3}) QVERIFY(w.lvInInfoTip(i).contains(QString::fromUtf8(kCancelledReason)));
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestMainWindow::closeSavesThenDestroyDeletesResults() {
    BoxRecorder boxes;
    WindowFixture f;
    f.window->show();
    f.window->Record().Prefix = "small_";
    const QStringList sources = f.MakeSources(2);
    f.window->RunBatch(sources);
    QCOMPARE(f.ResultFiles(), (QStringList{"small_pic0.bmp", "small_pic1.bmp"}));
    f.window->cboRotate->setCurrentIndex(2);
    QTest::mouseClick(f.window->butQuit, Qt::LeftButton);
    QVERIFY(!f.window->isVisible());
    // Closing saved the settings but deleted nothing yet.
    QSettings ini(f.IniFile(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("Rotate")).toInt(), 2);
    QCOMPARE(ini.value(QStringLiteral("Prefix")).toString(), QStringLiteral("small_"));
    QCOMPARE(ini.value(QStringLiteral("WorkDir")).toString(), f.results);
    QCOMPARE(f.ResultFiles().size(), 2);
    f.window.reset();
    QCOMPARE(f.ResultFiles(), QStringList());
    for (const QString& s : sources) QVERIFY(QFile::exists(s));
}

void TestMainWindow::quitDuringABatchStopsIt() {
    BoxRecorder boxes;
    WindowFixture f;
    f.window->show();
    const QStringList sources = f.MakeSources(4);
    QTimer::singleShot(0, f.window.get(), [&] { QTest::mouseClick(f.window->butQuit, Qt::LeftButton); });
    f.window->RunBatch(sources);
    // The file in hand was finished; the rest were not started (but stay listed).
    QCOMPARE(f.window->lvIn->count(), 4);
    QCOMPARE(f.window->lvOut->count(), 1);
    QVERIFY(QFile::exists(f.IniFile()));
    f.window.reset();
    QCOMPARE(f.ResultFiles(), QStringList());
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));

    // A drop still waiting for its event when the window closes is not processed.
    WindowFixture g;
    g.window->show();
    QCOMPARE(DropOnIn(*g.window, g.MakeSources(2)), Qt::CopyAction);
    QTest::mouseClick(g.window->butQuit, Qt::LeftButton);
    QTest::qWait(100);
    QCOMPARE(g.window->lvIn->count(), 0);
    QCOMPARE(g.window->PendingDropCount(), size_t(0));
    QCOMPARE(g.ResultFiles(), QStringList());
}

void TestMainWindow::startupReportsBadStoredValues() {
    BoxRecorder boxes;
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings store(ini, QSettings::IniFormat);
        store.setValue(QStringLiteral("JPEGQuality"), QStringLiteral("very high"));
        store.setValue(QStringLiteral("Resampler"), 2);
    }
    SettingsLocation location;
    location.IniFile = ini.toStdString();
    TfrmMain w(location);
    // Start-up went on: the good value was taken, the bad one kept its default.
    QCOMPARE(w.Record().Resampler, 2);
    QCOMPARE(w.Record().JPEGQuality, 85);
    QVERIFY(WaitFor([&] { return !boxes.boxes.empty(); }));
    QCOMPARE(boxes.boxes[0].title, QString::fromUtf8(kApplicationTitle));
    // No full stop: "'" sorts before ".".
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Invalid data type for 'JPEGQuality'"));
}

void TestMainWindow::codecWarningsShowAWarningBox() {
    BoxRecorder boxes;
    {
        WindowFixture f;
        ShowWarning("The picture data is damaged");
        QCOMPARE(int(boxes.boxes.size()), 1);
        QCOMPARE(boxes.boxes[0].kind, TMessageKind::Warning);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Warning"));
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("The picture data is damaged"));
    }
    // Gone with the window.
    ShowWarning("nobody listens");
    QCOMPARE(int(boxes.boxes.size()), 1);
}

IMBRIX_GUI_TEST(TestMainWindow);
#include "main_window_test.moc"
