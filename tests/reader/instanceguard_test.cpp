#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "reader/instanceguard.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using test::waitUntil;

class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString name() const { return dir.filePath("guard"); }
    QTemporaryDir dir;
};

TEST_F(InstanceGuardTest, TheFirstStartFindsNobodyAndListens) {
    InstanceGuard first(name());
    EXPECT_FALSE(first.activatePrevInstance(500));
    EXPECT_TRUE(first.listen()) << first.errorString().toStdString();
}

TEST_F(InstanceGuardTest, ASecondStartAsksTheFirstToRestoreItsWindow) {
    InstanceGuard first(name());
    ASSERT_TRUE(first.listen());
    QSignalSpy restore(&first, &InstanceGuard::activationRequested);

    // The second start blocks on its socket, so it runs where the first can still answer.
    bool handedOver = false;
    std::thread second([&] { handedOver = InstanceGuard(name()).activatePrevInstance(); });
    EXPECT_TRUE(waitUntil([&] { return restore.count() == 1; }, 5000));
    second.join();
    EXPECT_TRUE(handedOver);
}

TEST_F(InstanceGuardTest, ASocketLeftByACrashedInstanceDoesNotStopTheNextStart) {
    // A bound socket file nobody listens on, as a killed instance leaves it.
    const QByteArray path = name().toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(name()));

    InstanceGuard next(name());
    EXPECT_FALSE(next.activatePrevInstance(500));
    EXPECT_TRUE(next.listen()) << next.errorString().toStdString();
    EXPECT_TRUE(InstanceGuard(name()).activatePrevInstance(300)) << "the new instance answers";
}

TEST_F(InstanceGuardTest, TheDefaultNameIsTheUsersOwn) {
    const QString runtimeDir = dir.filePath("runtime");
    ASSERT_TRUE(QDir().mkpath(runtimeDir));
    qputenv("XDG_RUNTIME_DIR", runtimeDir.toLocal8Bit());
    EXPECT_EQ(InstanceGuard::defaultServerName(), runtimeDir + "/quorvel-reader");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceGuard::defaultServerName(),
              QStringLiteral("quorvel-reader-%1").arg(getuid()));
}

} // namespace
} // namespace quorvel
