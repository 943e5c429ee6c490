// Shares in Product.ini follow the user's number format; here a user who
// writes "0,3".
#include "config/product_config.h"

#include "scripted_operator.h"

#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace ufd {
namespace {

int16_t Read(const std::string& partition, ProductConfig& config) {
    QTemporaryDir dir;
    const std::filesystem::path file = dir.filePath("Product.ini").toStdString();
    std::ofstream(file, std::ios::binary) << "[PARTITION STATUS]\r\nParNum=2\r\n"
                                          << partition << "[APPLICATION MODE]\r\nApMode=2.5\r\n";
    return ReadProductConfig(config, file);
}

TEST(UserNumberFormat, SharesUseTheDecimalCommaAndAPointIsNoDecimalPoint) {
    ASSERT_EQ(QLocale::system().decimalPoint(), ",");
    testing::ScriptedOperator op;
    ProductConfig config;
    EXPECT_EQ(Read("1st=0,3\r\n2nd=0,7\r\n", config), kConfigGood);
    EXPECT_EQ(config.FirstShare, 0.3);
    EXPECT_EQ(config.SecondShare, 0.7);
    EXPECT_EQ(config.ApMode, 2) << "ApMode always reads \".\" as the decimal point";
    EXPECT_TRUE(op.seen.empty());
    EXPECT_EQ(Read("1st=0.5\r\n2nd=0.5\r\n", config), kConfigUnreadable);
    EXPECT_EQ(op.Texts(), std::vector<QString>{"Open product.ini failed"});
}

} // namespace
} // namespace ufd
