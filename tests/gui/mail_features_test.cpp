// Made for mail and upload, in the window: opening files from outside it (the command line,
// and a second "imbrix FILE..." that hands its files to the window already open), and the
// Out tray's word on the JPEG size limit.
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "app/window/instance_channel.h"
#include "graphics/bitmap.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

class TestOpenFiles : public QObject {
    Q_OBJECT
private slots:
    void commandLineNamesFiles();
    void openedFilesAreProcessedAsADrop();
    void openedFilesWaitForAnOpenDialog();
    void aSecondInstanceHandsOverItsFiles();
    void aStaleSocketIsReplacedAndGarbageRefused();

private:
    // A runtime folder of the test's own, so no window of the user's is reached.
    QTemporaryDir runtime_;
    void UseOwnRuntimeFolder() { qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit()); }
};

void TestOpenFiles::commandLineNamesFiles() {
    const QString here = QStringLiteral("/home/u/pics");
    struct Case {
        QStringList arguments;
        QStringList files;
        QString error;
    } cases[] = {
        {{QStringLiteral("a.jpg"), QStringLiteral("/tmp/b.png")}, {here + QStringLiteral("/a.jpg"), QStringLiteral("/tmp/b.png")}, {}},
        {{QStringLiteral("../x/./c.gif")}, {QStringLiteral("/home/u/x/c.gif")}, {}},
        {{QStringLiteral("file:///tmp/with%20space.jpg")}, {QStringLiteral("/tmp/with space.jpg")}, {}},
        {{QStringLiteral("--"), QStringLiteral("-odd.jpg"), QStringLiteral("--")},
         {here + QStringLiteral("/-odd.jpg"), here + QStringLiteral("/--")}, {}},
        {{QStringLiteral("-x"), QStringLiteral("a.jpg")}, {here + QStringLiteral("/a.jpg")}, QStringLiteral("unknown option -x")},
        {{}, {}, {}},
    };
    for (const Case& c : cases) {
        const TCommandLine line = ParseCommandLine(c.arguments, here);
        const QString name = c.arguments.join(u' ');
        QVERIFY2(line.Files == c.files, qPrintable(name + QStringLiteral(": had ") + line.Files.join(u'|')));
        QVERIFY2(line.Error == c.error, qPrintable(name + QStringLiteral(": had error ") + line.Error));
    }
}

void TestOpenFiles::openedFilesAreProcessedAsADrop() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    const QStringList files = f.MakeSources(3);
    w.OpenFiles(files);
    // As with a drop, nothing is read before the call returns.
    QCOMPARE(w.lvIn->count(), 0);
    QVERIFY(WaitFor([&] { return w.lvOut->count() == 3 && !w.BatchRunning(); }));
    std::vector<std::string> want;
    for (const QString& p : files) want.push_back(p.toStdString());
    QCOMPARE(w.Trays().Paths(TTray::In), want);
    QCOMPARE(f.ResultFiles().size(), 3);
    // An empty list only brings the window forward.
    w.OpenFiles({});
    QTest::qWait(50);
    QCOMPARE(w.lvIn->count(), 3);
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestOpenFiles::openedFilesWaitForAnOpenDialog() {
    BoxRecorder boxes;
    WindowFixture f;
    TfrmMain& w = *f.window;
    w.show();
    QDialog dialog(&w);
    dialog.setModal(true);
    dialog.show();
    w.OpenFiles(f.MakeSources(2));
    QTest::qWait(400);
    QCOMPARE(w.lvIn->count(), 0);  // no batch under the dialog
    dialog.close();
    QVERIFY(WaitFor([&] { return w.lvOut->count() == 2 && !w.BatchRunning(); }));
    QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
}

void TestOpenFiles::aSecondInstanceHandsOverItsFiles() {
    QVERIFY(runtime_.isValid());
    UseOwnRuntimeFolder();
    const QString name = InstanceSocketName();
    QVERIFY2(name.startsWith(runtime_.path() + u'/'), qPrintable(name));

    TInstanceServer server;
    QCOMPARE(server.Start(name, {}), HandOver::NoWindow);
    QVERIFY(server.Listening());
    QSignalSpy arrived(&server, &TInstanceServer::FilesArrived);

    QTemporaryDir work;
    QDir(work.path()).mkpath(QStringLiteral("pics"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), work.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const struct {
        QStringList arguments;
        QStringList files;
    } runs[] = {
        {{QStringLiteral("one.jpg"), QStringLiteral("/abs/two.png")},
         {work.filePath(QStringLiteral("pics/one.jpg")), QStringLiteral("/abs/two.png")}},
        {{}, {}},  // "imbrix" alone: the open window comes forward, no second window
    };
    for (const auto& run : runs) {
        arrived.clear();
        QProcess second;
        second.setProcessEnvironment(env);
        second.setWorkingDirectory(work.filePath(QStringLiteral("pics")));
        second.start(QStringLiteral(IMBRIX_APP), run.arguments);
        QVERIFY(second.waitForStarted());
        // The second process waits for our answer, which needs our event loop.
        QVERIFY2(arrived.wait(10000) || arrived.count() == 1, "the files never arrived");
        QVERIFY(second.waitForFinished(10000));
        if (second.state() != QProcess::NotRunning) second.kill();
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(arrived.count(), 1);
        QCOMPARE(arrived.at(0).at(0).toStringList(), run.files);
        QVERIFY2(second.readAllStandardError().isEmpty(), "the hand-over was not confirmed");
    }
    server.Stop();
    QVERIFY(!QFile::exists(name));
}

void TestOpenFiles::aStaleSocketIsReplacedAndGarbageRefused() {
    UseOwnRuntimeFolder();
    const QString name = runtime_.filePath(QStringLiteral("stale-test"));
    // What a window that crashed leaves behind: the name exists, nobody answers.
    {
        QFile leftover(name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
    }
    TInstanceServer server;
    QCOMPARE(server.Start(name, {QStringLiteral("/x.jpg")}), HandOver::NoWindow);
    QVERIFY(server.Listening());
    QSignalSpy arrived(&server, &TInstanceServer::FilesArrived);

    // Bytes that are not a message are dropped with the connection.
    QLocalSocket rogue;
    rogue.connectToServer(name);
    QVERIFY(rogue.waitForConnected(2000));
    rogue.write("GET / HTTP/1.0\r\n\r\n");
    rogue.flush();
    QTRY_COMPARE_WITH_TIMEOUT(rogue.state(), QLocalSocket::UnconnectedState, 5000);
    QCOMPARE(arrived.count(), 0);
    // A length beyond the limit is refused before anything that large is awaited.
    QLocalSocket greedy;
    greedy.connectToServer(name);
    QVERIFY(greedy.waitForConnected(2000));
    greedy.write(QByteArray("IMBRIX1\n") + QByteArray::fromHex("7fffffff"));
    greedy.flush();
    QTRY_COMPARE_WITH_TIMEOUT(greedy.state(), QLocalSocket::UnconnectedState, 5000);
    QCOMPARE(arrived.count(), 0);
}

class TestSizeLimitTip : public QObject {
    Q_OBJECT
private slots:
    void outTipSaysWhatTheLimitDid() {
        BoxRecorder boxes;
        WindowFixture f;
        TfrmMain& w = *f.window;
        w.Record().OutputType = 2;  // .jpg
        w.Record().MaxJPEGKB = 1;
        w.rbFullSize->setChecked(true);
        // Noise at 200 x 150 cannot get under 1 KB; a flat picture fits at the quality asked.
        const QString noisy = f.sources + QStringLiteral("noisy.bmp");
        {
            TBitmap bmp(200, 150, TPixelFormat::pf24bit);
            uint32_t state = 12345;
            for (int y = 0; y < bmp.Height(); ++y)
                for (int x = 0; x < 600; ++x) bmp.ScanLine(y)[x] = uint8_t((state = state * 1103515245u + 12345u) >> 23);
            bmp.WritePictureFile(noisy.toStdString());
        }
        const QString flat = f.sources + QStringLiteral("flat.bmp");
        WriteBmp(flat, 16, 16);
        w.OpenFiles({noisy, flat});
        QVERIFY(WaitFor([&] { return w.lvOut->count() == 2 && !w.BatchRunning(); }));
        const QString over = w.lvOutInfoTip(0), fits = w.lvOutInfoTip(1);
        QVERIFY2(over.contains(QStringLiteral("\nFilesize: ")), qPrintable(over));
        QVERIFY2(over.endsWith(QStringLiteral("\nOver the 1K limit even at JPEG quality 10")), qPrintable(over));
        QVERIFY2(!fits.contains(QStringLiteral("limit")), qPrintable(fits));
        QVERIFY2(boxes.boxes.empty(), qPrintable(boxes.Texts()));
    }
};

#include "mail_features_test.moc"
IMBRIX_GUI_TEST(TestOpenFiles);
IMBRIX_GUI_TEST(TestSizeLimitTip);
