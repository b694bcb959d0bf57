#pragma once
// Helpers of the window tests: a recorder for message boxes, pictures on disk, a window
// with its settings and results in a temporary folder, and synthetic drops.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "app/window/main_window.h"
#include "dialogs/message_box.h"

namespace guitest {

// Registers a test class with the test program's main.
using TestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<TestFactory>& Registry();
struct Register {
    explicit Register(TestFactory f) { Registry().push_back(std::move(f)); }
};
#define IMBRIX_GUI_TEST(Class) \
    static const ::guitest::Register register_##Class([] { return std::unique_ptr<QObject>(new Class); })

struct Box {
    TMessageKind kind;
    QString title;
    QString text;
};
// Receives every message box while it lives.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    std::vector<Box> boxes;
    QString Texts() const;  // all texts, one a line, for failure messages

private:
    MessageBoxHook previous_;
};

// Writes a 24-bit Windows bitmap of the given size and colour (red, green, blue).
void WriteBmp(const QString& path, int width, int height, uint8_t r = 200, uint8_t g = 100, uint8_t b = 50);

// A main window whose settings live in folder/settings.ini and whose results go to
// folder/out/, written as Windows bitmaps.
struct WindowFixture {
    WindowFixture();
    QTemporaryDir dir;
    QString sources;  // folder/src/
    QString results;  // folder/out/
    std::unique_ptr<TfrmMain> window;
    QString IniFile() const { return dir.filePath(QStringLiteral("settings.ini")); }
    // Writes count pictures src/<stem><i>.bmp and returns their paths.
    QStringList MakeSources(int count, int width = 40, int height = 30, const QString& stem = QStringLiteral("pic"));
    QStringList ResultFiles() const;  // files in out/, sorted
};

// Sends a drop of these paths to the In tray; returns the action the drop took
// (Qt::IgnoreAction when refused).
Qt::DropAction DropOnIn(TfrmMain& window, const QStringList& paths, Qt::KeyboardModifiers keys = Qt::NoModifier,
                        Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);

// Lets posted events and the batches they start run until cond holds (or 10 s pass).
bool WaitFor(const std::function<bool()>& cond);

}  // namespace guitest
