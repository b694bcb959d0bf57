// Runs every registered window test class on one QApplication.
#include <QApplication>
#include <QTest>

#include "app/core/picture_formats.h"
#include "tests/gui/gui_test_support.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    RegisterPictureFormats();
    int failed = 0;
    for (const guitest::TestFactory& make : guitest::Registry()) {
        std::unique_ptr<QObject> test = make();
        failed += QTest::qExec(test.get(), argc, argv) != 0 ? 1 : 0;
    }
    UnregisterPictureFormats();
    return failed == 0 ? 0 : 1;
}
