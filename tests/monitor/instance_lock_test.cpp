#include "monitor/instance_lock.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace ufd {
namespace {

TEST(InstanceLock, OneHolderPerPathUntilItIsDropped) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("vasket.lock"));
    std::optional<InstanceLock> first = InstanceLock::TryAcquire(path);
    ASSERT_TRUE(first);
    // A second open file description conflicts even inside one process.
    EXPECT_FALSE(InstanceLock::TryAcquire(path));
    EXPECT_TRUE(InstanceLock::TryAcquire(dir.filePath(QStringLiteral("other.lock"))));
    InstanceLock moved = std::move(*first);
    first.reset();
    EXPECT_FALSE(InstanceLock::TryAcquire(path)) << "moving the lock must not release it";
    { InstanceLock dropped = std::move(moved); }
    EXPECT_TRUE(InstanceLock::TryAcquire(path));
    EXPECT_FALSE(InstanceLock::TryAcquire(QStringLiteral("/nonexistent-dir-ufd/vasket.lock")));
}

TEST(InstanceLock, RecordsWhichStationItServes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("vasket.lock"));
    std::optional<InstanceLock> lock = InstanceLock::TryAcquire(path);
    ASSERT_TRUE(lock);
    lock->WriteOwner(100, 4321);
    EXPECT_EQ(ReadOwnerStation(path), 4321);
    lock->WriteOwner(100, 7); // a shorter record replaces the longer one completely
    EXPECT_EQ(ReadOwnerStation(path), 7);
    lock->WriteOwner(100, std::nullopt);
    EXPECT_FALSE(ReadOwnerStation(path));
    QFile garbage(dir.filePath(QStringLiteral("garbage.lock")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x01\x02 zz\n");
    garbage.close();
    EXPECT_FALSE(ReadOwnerStation(garbage.fileName()));
}

} // namespace
} // namespace ufd
