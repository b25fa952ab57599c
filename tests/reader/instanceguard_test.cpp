#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "reader/instanceguard.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using test::waitUntil;

// Makes folder (and its parents) with exactly this mode.
bool makeFolder(const QString& folder, mode_t mode) {
    return QDir().mkpath(folder) && chmod(QFile::encodeName(folder).constData(), mode) == 0;
}

// Runs a later start's hand-off on a thread of its own while this thread's event loop
// serves the running instance.
bool handOff(InstanceGuard& later, int timeoutMs = 3000) {
    auto asked =
        std::async(std::launch::async, [&] { return later.activatePrevInstance(timeoutMs); });
    waitUntil([&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return asked.get();
}

// A client of the running instance that this test drives by hand.
struct RawClient {
    QLocalSocket socket;
    explicit RawClient(const QString& name) {
        socket.connectToServer(name);
        EXPECT_TRUE(socket.waitForConnected(2000));
    }
    // True when the instance hung up within timeoutMs.
    bool droppedWithin(int timeoutMs) {
        return waitUntil([&] { return socket.state() == QLocalSocket::UnconnectedState; },
                         timeoutMs);
    }
};

class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(runtime.isValid() && temp.isValid()); }

    QString socketIn(const QTemporaryDir& dir) const {
        return dir.filePath(QStringLiteral("quorvel-reader"));
    }
    QString tempFolder(const QString& suffix = QString()) const {
        return temp.filePath(QStringLiteral("quorvel-%1%2").arg(getuid()).arg(suffix));
    }

    QTemporaryDir runtime; // made 0700 by QTemporaryDir
    QTemporaryDir temp;
};

TEST_F(InstanceGuardTest, TheSocketLivesOnlyInAFolderNoOtherUserCanEnter) {
    EXPECT_EQ(InstanceGuard::serverNameIn(runtime.path(), temp.path()), socketIn(runtime));

    const QString linked = temp.filePath("linked-runtime");
    ASSERT_TRUE(QFile::link(runtime.path(), linked));
    const QString open = temp.filePath("open-runtime");
    ASSERT_TRUE(makeFolder(open, 0755));
    QLocalServer squatter; // planted where anyone could have put it
    ASSERT_TRUE(squatter.listen(open + "/quorvel-reader"));
    const QString expected = tempFolder() + "/quorvel-reader";
    for (const QString& runtimeDir : {QString(), temp.filePath("missing"), open, linked}) {
        EXPECT_EQ(InstanceGuard::serverNameIn(runtimeDir, temp.path()), expected)
            << runtimeDir.toStdString();
        EXPECT_EQ(test::fileMode(tempFolder()), 0700);
    }
    InstanceGuard start(InstanceGuard::serverNameIn(open, temp.path()));
    EXPECT_FALSE(handOff(start, 500));
    EXPECT_TRUE(start.listen()) << start.errorString().toStdString();
}

TEST_F(InstanceGuardTest, ATakenOrUnsafeFolderNameInTheTemporaryFolderIsNeverUsed) {
    const QString ownPrivate = temp.filePath("own-private");
    ASSERT_TRUE(makeFolder(ownPrivate, 0700));
    const struct {
        const char* what;
        std::function<bool(const QString&)> plant;
    } cases[] = {
        {"open to others", [](const QString& path) { return makeFolder(path, 0777); }},
        {"group may enter", [](const QString& path) { return makeFolder(path, 0750); }},
        {"a link to a private folder",
         [&](const QString& path) { return QFile::link(ownPrivate, path); }},
        {"a plain file", [](const QString& path) { return test::writeFile(path, "x"); }},
        {"another user's",
         [](const QString& path) {
             return getuid() == 0 && makeFolder(path, 0700) &&
                    chown(QFile::encodeName(path).constData(), 4242, 4242) == 0;
         }},
    };
    for (const auto& c : cases) {
        QTemporaryDir tempDir;
        const QString usual = tempDir.filePath(QStringLiteral("quorvel-%1").arg(getuid()));
        if (!c.plant(usual)) {
            EXPECT_STREQ(c.what, "another user's") << "only that case needs root";
            continue;
        }
        const int before = test::fileMode(usual);
        EXPECT_EQ(InstanceGuard::serverNameIn(QString(), tempDir.path()),
                  usual + "-1/quorvel-reader")
            << c.what;
        EXPECT_EQ(test::fileMode(usual), before) << c.what << ": left as it was";
    }

    // When every name is taken the reader starts without a guard and says why.
    for (const char* suffix : {"", "-1", "-2", "-3"})
        ASSERT_TRUE(makeFolder(tempFolder(suffix), 0777));
    QString error;
    EXPECT_EQ(InstanceGuard::serverNameIn(QString(), temp.path(), &error), QString());
    EXPECT_TRUE(error.contains(tempFolder())) << error.toStdString();
    InstanceGuard inert{QString()};
    EXPECT_FALSE(inert.activatePrevInstance(100));
    EXPECT_FALSE(inert.listen());
    EXPECT_FALSE(inert.errorString().isEmpty());
}

TEST_F(InstanceGuardTest, ASecondStartHandsOverToTheRunningInstanceOfTheSameUserOnly) {
    InstanceGuard running(socketIn(runtime));
    ASSERT_TRUE(running.listen()) << running.errorString().toStdString();
    QSignalSpy activations(&running, &InstanceGuard::activationRequested);

    InstanceGuard later(socketIn(runtime));
    EXPECT_TRUE(handOff(later));
    EXPECT_EQ(activations.count(), 1);
    EXPECT_FALSE(later.listen()) << "the name stays with the running instance";

    // Through the seam: an instance of another user is not handed over to...
    InstanceGuard wary(socketIn(runtime));
    wary.setTrustedUser(getuid() + 1);
    EXPECT_FALSE(handOff(wary));
    // ...and clients of another user are hung up on unheard.
    running.setTrustedUser(getuid() + 1);
    EXPECT_FALSE(handOff(later));
    EXPECT_EQ(activations.count(), 1);

    QLocalServer plain;
    ASSERT_TRUE(plain.listen(runtime.filePath("peer")));
    QLocalSocket client;
    client.connectToServer(plain.fullServerName());
    ASSERT_TRUE(client.waitForConnected(2000));
    EXPECT_EQ(InstanceGuard::peerUser(client), std::optional<uint>(getuid()));
}

TEST_F(InstanceGuardTest, AListenerThatDoesNotAnswerTheHandOffIsNotTrusted) {
    QLocalServer silent; // takes connections and reads nothing
    ASSERT_TRUE(silent.listen(socketIn(runtime)));
    InstanceGuard later(socketIn(runtime));
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(handOff(later, 400));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(later.listen());
    EXPECT_FALSE(later.errorString().isEmpty());
}

TEST_F(InstanceGuardTest, ClientsThatSendTooLongALineOrNothingAreDropped) {
    InstanceGuard running(socketIn(runtime));
    running.setIdleTimeout(1000);
    ASSERT_TRUE(running.listen());
    QSignalSpy activations(&running, &InstanceGuard::activationRequested);

    RawClient endless(running.serverName());
    const QByteArray chunk(4096, 'x');
    for (int i = 0; i < 16; ++i)
        endless.socket.write(chunk);
    EXPECT_TRUE(endless.droppedWithin(500)) << "dropped for the length, before the idle limit";

    RawClient late(running.serverName());
    late.socket.write(QByteArray(InstanceGuard::kMaxLineBytes, ' ') + "restore\n");
    EXPECT_TRUE(late.droppedWithin(500));

    RawClient idle(running.serverName());
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(idle.droppedWithin(4000));
    EXPECT_GE(clock.elapsed(), 900);

    RawClient polite(running.serverName());
    polite.socket.write("restore\n");
    ASSERT_TRUE(waitUntil([&] { return polite.socket.bytesAvailable() >= 3; }, 3000));
    EXPECT_EQ(polite.socket.readAll(), "ok\n");
    EXPECT_EQ(activations.count(), 1);
}

TEST_F(InstanceGuardTest, TheSocketACrashedInstanceLeftBehindIsReplaced) {
    // What a crash leaves: a socket file that nobody listens on.
    const QByteArray path = QFile::encodeName(socketIn(runtime));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(socketIn(runtime)));

    InstanceGuard next(socketIn(runtime));
    EXPECT_FALSE(handOff(next));
    ASSERT_TRUE(next.listen()) << next.errorString().toStdString();
    InstanceGuard later(socketIn(runtime));
    EXPECT_TRUE(handOff(later));
}

} // namespace
} // namespace quorvel
