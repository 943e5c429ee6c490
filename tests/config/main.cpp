#include <QCoreApplication>
#include <QtGlobal>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Numbers in Product.ini follow the user's format; each program pins its
    // locale so "0.3" means the same on every machine.
    qputenv("LC_ALL", UFD_TEST_LOCALE);
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
