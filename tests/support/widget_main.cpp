// main() of the test programs that need real widgets: a QApplication on the
// offscreen platform unless the caller chose one (a display for a look).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // Boxes without a title of their own show this, so tests can tell it apart.
    QApplication::setApplicationDisplayName("Station Under Test");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
