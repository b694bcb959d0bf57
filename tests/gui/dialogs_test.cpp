// The settings dialog and its exchange with the main window, the viewers, the help window,
// the progress dialog and the wording of the top-level error box.
#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>
#include <QFileInfo>
#include <QDesktopServices>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <cmath>
#include <QSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QApplication>
#include <QTest>
#include <QTextEdit>

#include "app/settings/settings_store.h"
#include "app/window/shell_open.h"
#include "app/window/progress_dialog.h"
#include "graphics/errors.h"
#include "dialogs/folder_browse.h"
#include "dialogs/help_window.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/viewer.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    // Viewers live in a process-wide list: a test that fails half-way must not leave its
    // windows to the next one.
    void cleanup() { CloseAllViewers(); }
    void errorBoxText();
    void settingsDialogFields();
    void settingsLabelsShowTheirWholeText();
    void settingsExchangeOkStoresAndSaves();
    void settingsExchangeCancelChangesNothing();
    void workingFolderIsMadeOnAcceptOrRefused();
    void defaultWorkingFolderIsPrivateAndMadeOnFirstUse();
    void browseKeepsOrTakesTheFolder();
    void viewersOpenFitAndCloseWithTheTrays();
    void viewerOfAnUnreadableFile();
    void shellOpenWhenTheViewerIsOff();
    void helpIsOneWindow();
    void progressDialog();
};

void TestDialogs::workingFolderIsMadeOnAcceptOrRefused() {
    BoxRecorder boxes;
    QTemporaryDir dir;
    QStringList asked;
    struct {
        const char* folder;  // under dir; "file/x" cannot be made (its parent is a file)
        bool answer;
        bool accepted;
        bool exists;
        int errors;
    } cases[] = {
        {"made/here", true, true, true, 0},
        {"declined", false, false, false, 0},
        {"file/x", true, false, false, 1},
    };
    QFile(dir.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
    for (const auto& c : cases) {
        boxes.boxes.clear();
        asked.clear();
        const QuestionHook previous = SetQuestionHook([&](const QString& text) {
            asked << text;
            return c.answer;
        });
        auto restore = qScopeGuard([&] { SetQuestionHook(previous); });
        TfrmSettings d(nullptr);
        const QString folder = dir.filePath(QString::fromUtf8(c.folder));
        d.SetWorkDir(folder.toStdString());
        QTest::mouseClick(d.OKBtn, Qt::LeftButton);
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(folder), qPrintable(asked[0]));
        QCOMPARE(d.result() == QDialog::Accepted, c.accepted);
        QCOMPARE(QFileInfo(folder).isDir(), c.exists);
        QCOMPARE(int(boxes.boxes.size()), c.errors);
    }
    // An existing folder is not asked about.
    asked.clear();
    const QuestionHook previous = SetQuestionHook([&](const QString& text) {
        asked << text;
        return true;
    });
    TfrmSettings d(nullptr);
    d.SetWorkDir(dir.path().toStdString());
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    SetQuestionHook(previous);
    QVERIFY(asked.isEmpty());
    QCOMPARE(d.result(), int(QDialog::Accepted));
}

void TestDialogs::defaultWorkingFolderIsPrivateAndMadeOnFirstUse() {
    BoxRecorder boxes;
    QTemporaryDir home;
    const QByteArray before = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", home.path().toUtf8());
    auto restore = qScopeGuard([&] { qputenv("XDG_CACHE_HOME", before); });
    const std::string folder = DefaultWorkDir();
    QCOMPARE(QString::fromStdString(folder), home.path() + QStringLiteral("/mrl/Imbrix/results/"));
    // A window with no stored folder uses it, and its first batch makes it, private.
    QTemporaryDir dir;
    TfrmMain w(SettingsLocation{dir.filePath(QStringLiteral("settings.ini")).toStdString()});
    QCOMPARE(w.Record().WorkDir, folder);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(folder)));
    const QString source = dir.filePath(QStringLiteral("a.bmp"));
    WriteBmp(source, 8, 8);
    w.Record().OutputType = 1;
    w.RunBatch({source});
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
    QVERIFY(QFileInfo::exists(QString::fromStdString(folder) + QStringLiteral("a.bmp")));
    QCOMPARE(QFile::permissions(QString::fromStdString(folder)) & 0x7777,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadUser |
                 QFileDevice::WriteUser | QFileDevice::ExeUser);
}

void TestDialogs::errorBoxText() {
    QCOMPARE(TopLevelErrorText(QStringLiteral("Range check error")), QStringLiteral("Range check error."));
    QCOMPARE(TopLevelErrorText(QStringLiteral("Unknown picture file extension (.xyz)")),
             QStringLiteral("Unknown picture file extension (.xyz)"));
    QCOMPARE(TopLevelErrorText(QStringLiteral("Done.")), QStringLiteral("Done."));
    QCOMPARE(TopLevelErrorText(QStringLiteral("size 5")), QStringLiteral("size 5."));  // '5' sorts after '.'
    QCOMPARE(TopLevelErrorText(QStringLiteral("a-")), QStringLiteral("a-"));            // '-' sorts before
    QCOMPARE(TopLevelErrorText(QString()), QString());

    BoxRecorder boxes;
    QVERIFY(!GuardCommand(nullptr, [] { throw ERangeError(); }));
    QVERIFY(GuardCommand(nullptr, [] {}));
    QCOMPARE(int(boxes.boxes.size()), 1);
    QCOMPARE(boxes.boxes[0].title, QString::fromUtf8(kApplicationTitle));
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Range check error."));
    QCOMPARE(boxes.boxes[0].kind, TMessageKind::Error);
    QVERIFY(QString::fromUtf8(kApplicationTitle).startsWith(QStringLiteral("Imbrix 1.2beta (")));
}

void TestDialogs::settingsDialogFields() {
    TfrmSettings d(nullptr);
    QCOMPARE(d.windowTitle(), QStringLiteral("Advanced Settings"));
    QCOMPARE(d.cboOutputType->count(), 5);
    QCOMPARE(d.cboOutputType->itemText(2), QStringLiteral(".jpg (JPEG)"));
    QCOMPARE(d.cboOutputType->itemText(4), QStringLiteral(".png (PNG)"));
    QCOMPARE(d.cboResampler->count(), 7);
    QCOMPARE(d.cboResampler->itemText(5), QStringLiteral("Lanczos3 (Best)"));

    // Writing the output type is not a change in the list: quality stays enabled.
    d.SetOutputType(1);
    QVERIFY(d.txtJPEGQuality->isEnabled());
    QVERIFY(d.lblJPEGQuality->isEnabled());
    d.cboOutputType->setCurrentIndex(3);  // a change made in the list
    QVERIFY(!d.txtJPEGQuality->isEnabled());
    QVERIFY(!d.lblJPEGQuality->isEnabled());
    d.cboOutputType->setCurrentIndex(0);  // "Same as original" may write JPEG files
    QVERIFY(d.txtJPEGQuality->isEnabled());
    d.cboOutputType->setCurrentIndex(1);
    QVERIFY(!d.txtJPEGQuality->isEnabled());
    d.cboOutputType->setCurrentIndex(2);
    QVERIFY(d.lblJPEGQuality->isEnabled());
    // The size limit is a JPEG setting too.
    for (int type = 0; type < d.cboOutputType->count(); ++type) {
        d.cboOutputType->setCurrentIndex(type);
        QCOMPARE(d.txtMaxJPEGKB->isEnabled(), d.txtJPEGQuality->isEnabled());
        QCOMPARE(d.lblMaxJPEGKB->isEnabled(), type == 0 || type == 2);
    }

    // No limit shows as an empty field; only digits can be typed.
    const std::pair<int, QString> limits[] = {{0, QString()}, {-3, QString()}, {250, QStringLiteral("250")}};
    for (const auto& [stored, shown] : limits) {
        d.SetMaxJPEGKB(stored);
        QCOMPARE(d.txtMaxJPEGKB->text(), shown);
        QCOMPARE(d.MaxJPEGKB(), std::max(stored, 0));
    }
    d.cboOutputType->setCurrentIndex(2);
    d.txtMaxJPEGKB->clear();
    QTest::keyClicks(d.txtMaxJPEGKB, QStringLiteral("1x2-0 KB"));
    QCOMPARE(d.txtMaxJPEGKB->text(), QStringLiteral("120"));
    QCOMPARE(d.MaxJPEGKB(), 120);

    // The working directory ends in "/" both ways; empty falls back to the default.
    d.SetWorkDir("/data/pictures");
    QCOMPARE(d.txtWorkDir->text(), QStringLiteral("/data/pictures/"));
    d.txtWorkDir->setText(QStringLiteral("/srv/out"));
    QCOMPARE(d.WorkDir(), std::string("/srv/out/"));
    d.txtWorkDir->setText(QStringLiteral("/srv/out/"));
    QCOMPARE(d.WorkDir(), std::string("/srv/out/"));
    d.txtWorkDir->clear();
    QCOMPARE(d.WorkDir(), DefaultWorkDir());

    // The quality is an integer 1..100: a stored value outside is shown as the nearest one,
    // and typing cannot leave anything else.
    const std::pair<int, int> qualities[] = {{150, 100}, {0, 1}, {-5, 1}, {70, 70}};
    for (const auto& [stored, shown] : qualities) {
        d.SetJPEGQuality(stored);
        QCOMPARE(d.JPEGQuality(), shown);
    }
    d.txtJPEGQuality->setFocus();
    d.txtJPEGQuality->selectAll();
    QTest::keyClicks(d.txtJPEGQuality, QStringLiteral("8x"));
    QCOMPARE(d.JPEGQuality(), 8);
}

void TestDialogs::settingsLabelsShowTheirWholeText() {
    // Controls are placed by hand, so a label can be cut off or covered by the field after it.
    TfrmSettings d(nullptr);
    d.show();
    const QList<QLabel*> labels = d.findChildren<QLabel*>();
    QVERIFY(!labels.isEmpty());
    for (QLabel* label : labels) {
        const QString text = label->text().remove(QLatin1Char('&'));
        const int need = label->fontMetrics().horizontalAdvance(text), room = label->contentsRect().width();
        QVERIFY2(need <= room, qPrintable(QStringLiteral("%1 needs %2 pixels, has %3").arg(text).arg(need).arg(room)));
        for (QWidget* other : d.findChildren<QWidget*>()) {
            const bool bevel = other->inherits("QFrame") && !other->inherits("QLabel");
            if (other == label || other->parentWidget() != label->parentWidget() || bevel) continue;
            QVERIFY2(!label->geometry().intersects(other->geometry()),
                     qPrintable(text + QStringLiteral(" is covered by ") + other->metaObject()->className()));
        }
    }
}

namespace {
TSettingsRecord Loaded(const WindowFixture& f) {
    SettingsLocation location;
    location.IniFile = f.IniFile().toStdString();
    return LoadSettings(location).Record;
}
}  // namespace

void TestDialogs::settingsExchangeOkStoresAndSaves() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.Record().Prefix = "pre_";
    w.Record().Suffix = "_suf";
    QList<QVariant> shown;
    w.RunSettingsDialog = [&](TfrmSettings& d) {
        // The dialog opens on the record.
        shown << d.Resampler() << d.OutputType() << d.txtJPEGQuality->text() << d.txtWorkDir->text()
              << d.UseIntViewer() << d.PreserveAspectRatio() << d.txtPrefix->text() << d.txtSuffix->text()
              << d.AutoOrient();
        d.cboResampler->setCurrentIndex(6);
        d.cboOutputType->setCurrentIndex(3);
        d.txtJPEGQuality->setValue(70);
        d.txtWorkDir->setText(f.dir.path());
        d.cbUseIntViewer->setChecked(false);
        d.cbAspectRatio->setChecked(false);
        d.cbAutoOrient->setChecked(false);
        d.txtSuffix->setText(QStringLiteral("_web"));
        d.txtMaxJPEGKB->setText(QStringLiteral("300"));
        return int(QDialog::Accepted);
    };
    QTest::mouseClick(w.butAdvanced, Qt::LeftButton);
    QCOMPARE(shown, (QList<QVariant>{0, 1, QStringLiteral("85"), f.results, true, true, QStringLiteral("pre_"),
                                     QStringLiteral("_suf"), true}));
    const TSettingsRecord& r = w.Record();
    QCOMPARE(r.Resampler, 6);
    QCOMPARE(r.OutputType, 3);
    QCOMPARE(r.JPEGQuality, 70);
    QCOMPARE(QString::fromStdString(r.WorkDir), f.dir.path() + u'/');
    QVERIFY(!r.UseIntViewer);
    QVERIFY(!r.PreserveAspectRatio);
    QVERIFY(!r.AutoOrient);
    QCOMPARE(r.Prefix, std::string("pre_"));  // kept through the dialog
    QCOMPARE(r.Suffix, std::string("_web"));
    // Saved at once, not only at close.
    const TSettingsRecord saved = Loaded(f);
    QCOMPARE(saved.Resampler, 6);
    QCOMPARE(saved.JPEGQuality, 70);
    QCOMPARE(saved.Prefix, std::string("pre_"));
    QCOMPARE(saved.Suffix, std::string("_web"));
    QCOMPARE(saved.MaxJPEGKB, 300);
    QVERIFY(boxes.boxes.empty());
}

void TestDialogs::settingsExchangeCancelChangesNothing() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    const TSettingsRecord before = w.Record();
    w.RunSettingsDialog = [&](TfrmSettings& d) {
        d.cboResampler->setCurrentIndex(1);
        d.txtJPEGQuality->setValue(12);
        d.txtPrefix->setText(QStringLiteral("x"));
        return int(QDialog::Rejected);
    };
    w.butAdvancedClick();
    QCOMPARE(w.Record().Resampler, before.Resampler);
    QCOMPARE(w.Record().JPEGQuality, before.JPEGQuality);
    QCOMPARE(w.Record().Prefix, before.Prefix);
    QVERIFY(!QFile::exists(f.IniFile()));  // nothing saved
    QVERIFY(boxes.boxes.empty());
}

void TestDialogs::browseKeepsOrTakesTheFolder() {
    QString startedAt, title;
    QString answer;
    TFolderBrowse::Chooser previous = TFolderBrowse::SetChooser([&](QWidget*, const QString& t, const QString& start) {
        title = t;
        startedAt = start;
        return answer;
    });
    // Put back also when a comparison fails and returns early: the chooser refers to locals.
    const auto restore = qScopeGuard([&] { TFolderBrowse::SetChooser(previous); });
    QTemporaryDir chosen;
    TfrmSettings d(nullptr);
    d.txtWorkDir->setText(QStringLiteral("/var/tmp/"));
    answer.clear();  // cancelled
    QTest::mouseClick(d.butBrowse, Qt::LeftButton);
    QCOMPARE(startedAt, QStringLiteral("/var/tmp/"));
    QCOMPARE(title, QStringLiteral("Select a working directory"));
    QCOMPARE(d.txtWorkDir->text(), QStringLiteral("/var/tmp/"));
    answer = chosen.path();
    QTest::mouseClick(d.butBrowse, Qt::LeftButton);
    QCOMPARE(d.txtWorkDir->text(), chosen.path() + u'/');
    // Something that is not a folder of the file system is not taken.
    answer = chosen.filePath(QStringLiteral("missing"));
    QTest::mouseClick(d.butBrowse, Qt::LeftButton);
    QCOMPARE(d.txtWorkDir->text(), chosen.path() + u'/');
    // An empty field opens the chooser with nothing preselected.
    d.txtWorkDir->clear();
    answer.clear();
    QTest::mouseClick(d.butBrowse, Qt::LeftButton);
    QCOMPARE(startedAt, QString());
}

void TestDialogs::viewersOpenFitAndCloseWithTheTrays() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    w.rbFullSize->setChecked(true);
    const QString small = f.sources + QStringLiteral("small.bmp");
    WriteBmp(small, 100, 80);
    const QString big = f.sources + QStringLiteral("big.bmp");
    WriteBmp(big, 2000, 1500);
    const QString edge = f.sources + QStringLiteral("edge.bmp");
    WriteBmp(edge, 635, 470);
    w.RunBatch({small, big, small, edge});
    QCOMPARE(w.lvOut->count(), 4);

    // Double-click with every Out item selected: one viewer each.
    w.butSelectAllClick();
    QCOMPARE(w.lvOut->selectedItems().size(), 4);
    w.lvOutDblClick();
    QCOMPARE(int(ViewerList().size()), 4);
    TfrmViewer* first = ViewerList()[0];
    QCOMPARE(first->windowTitle(), QStringLiteral("small.bmp"));
    QCOMPARE(first->size(), QSize(100, 80));  // just holds the picture
    TfrmViewer* second = ViewerList()[1];
    QCOMPARE(second->PictureSize(), QSize(2000, 1500));
    // Larger than the screen: fitted to it by zoom, whole, without scroll bars.
    const QSize screen = second->screen()->availableGeometry().size();
    QVERIFY(second->Zoom() < 1.0);
    QVERIFY(second->width() <= screen.width() && second->height() <= screen.height());
    QCOMPARE(second->imgImage->size(), QSize(int(std::lround(2000 * second->Zoom())), int(std::lround(1500 * second->Zoom()))));
    QCOMPARE(second->horizontalScrollBar()->maximum(), 0);
    QCOMPARE(second->verticalScrollBar()->maximum(), 0);
    QCOMPARE(ViewerList()[2]->windowTitle(), QStringLiteral("small-1.bmp"));
    // Smaller than the design window with its frame and caption: held whole, not scrolled.
    QCOMPARE(ViewerList()[3]->size(), QSize(635, 470));

    // One closed by hand; Clear Trays closes the rest before the files go.
    QPointer<TfrmViewer> gone = second;
    second->close();
    QCOMPARE(int(ViewerList().size()), 3);
    QTest::mouseClick(w.butClearTrays, Qt::LeftButton);
    QCOMPARE(int(ViewerList().size()), 0);
    QVERIFY(WaitFor([&] { return gone.isNull(); }));
    QVERIFY(boxes.boxes.empty());
}

void TestDialogs::viewerOfAnUnreadableFile() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList sources = f.MakeSources(2);
    w.RunBatch(sources);
    QFile::remove(f.results + QStringLiteral("pic0.bmp"));
    w.butSelectAllClick();
    w.lvOutDblClick();
    // The failing first item shows the reader's error; no window, and the second is not
    // opened either.
    QCOMPARE(int(ViewerList().size()), 0);
    QCOMPARE(int(boxes.boxes.size()), 1);
    QCOMPARE(boxes.boxes[0].title, QString::fromUtf8(kApplicationTitle));
    QVERIFY2(boxes.boxes[0].text.contains(QStringLiteral("pic0.bmp")), qPrintable(boxes.Texts()));
    // The In tray's sources still open.
    w.lvIn->item(1)->setSelected(true);
    w.lvInDblClick();
    QCOMPARE(int(ViewerList().size()), 1);
    QCOMPARE(ViewerList()[0]->windowTitle(), QStringLiteral("pic1.bmp"));
    CloseAllViewers();
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

void TestDialogs::shellOpenWhenTheViewerIsOff() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    w.Record().UseIntViewer = false;
    const QStringList sources = f.MakeSources(3);
    w.RunBatch(sources);
    // The desktop's opener, replaced by a script that logs what it was given.
    const QString log = f.dir.filePath(QStringLiteral("opened.log"));
    const QString opener = f.dir.filePath(QStringLiteral("opener.sh"));
    QFile script(opener);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n").arg(log).toUtf8());
    script.close();
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    w.Shell()->OpenCommand = opener;
    w.lvIn->item(0)->setSelected(true);
    w.lvIn->item(2)->setSelected(true);
    w.lvInDblClick();
    auto opened = [&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    };
    QVERIFY(WaitFor([&] { return opened().size() == 2; }));
    const QStringList got = opened();
    QCOMPARE(QSet<QString>(got.begin(), got.end()), (QSet<QString>{sources[0], sources[2]}));
    QCOMPARE(int(ViewerList().size()), 0);
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestDialogs::helpIsOneWindow() {
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QVERIFY(w.HelpWindow() == nullptr);
    QTest::mouseClick(w.butHelp, Qt::LeftButton);
    TfrmHelp* help = w.HelpWindow();
    QVERIFY(help != nullptr);
    QVERIFY(help->isVisible());
    QCOMPARE(help->windowTitle(), QStringLiteral("Imbrix Help"));
    QVERIFY(help->RichEdit1->isReadOnly());
    QVERIFY(help->RichEdit1->toPlainText().contains(QStringLiteral("\"In\"")));
    help->resize(500, 400);
    QTest::mouseClick(help->butClose, Qt::LeftButton);
    QVERIFY(!help->isVisible());
    QTest::mouseClick(w.butHelp, Qt::LeftButton);
    QCOMPARE(w.HelpWindow(), help);
    QVERIFY(help->isVisible());
    QCOMPARE(help->size(), QSize(500, 400));
    auto helpWindows = [] {
        int n = 0;
        for (QWidget* t : QApplication::topLevelWidgets()) n += qobject_cast<TfrmHelp*>(t) ? 1 : 0;
        return n;
    };
    QCOMPARE(helpWindows(), 1);
    // The settings dialog's Help shows the same window.
    help->close();
    w.RunSettingsDialog = [](TfrmSettings& d) {
        QTest::mouseClick(d.HelpBtn, Qt::LeftButton);
        return int(QDialog::Rejected);
    };
    w.butAdvancedClick();
    QVERIFY(help->isVisible());
    QCOMPARE(helpWindows(), 1);
    // It goes with the main window.
    QPointer<TfrmHelp> watch(help);
    f.window.reset();
    QVERIFY(watch.isNull());
}

void TestDialogs::progressDialog() {
    QCOMPARE(TfrmProcess::ShortenPath(QString(45, u'a')), QString(45, u'a'));
    const QString path46 = QStringLiteral("/home/someone/pictures/holiday/2019/IMG_0001.JPG");
    QCOMPARE(path46.size(), 48);
    const QString shortened = TfrmProcess::ShortenPath(path46);
    QCOMPARE(shortened, path46.left(23) + QStringLiteral("...") + path46.right(20));
    QCOMPARE(shortened.size(), 46);

    QWidget owner;
    TfrmProcess p(&owner);
    QCOMPARE(p.windowTitle(), QStringLiteral("Processing Files"));
    p.SetMin(0);
    p.SetMax(6);
    p.SetStep(1);
    p.show();
    for (int i = 0; i < 6; ++i) p.StepProgress();
    QCOMPARE(p.pbProgress->value(), 6);
    // Esc only raises the flag; the dialog stays up.
    QVERIFY(!p.Cancelled());
    p.butCancel->setFocus();
    QTest::keyClick(&p, Qt::Key_Escape);
    QVERIFY(p.Cancelled());
    QVERIFY(p.isVisible());
    // The title-bar close only hides it.
    TfrmProcess q(&owner);
    q.show();
    q.close();
    QVERIFY(!q.isVisible());
    QVERIFY(!q.Cancelled());
}

IMBRIX_GUI_TEST(TestDialogs);
#include "dialogs_test.moc"
