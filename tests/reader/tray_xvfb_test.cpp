// Runs inside xvfbsession.sh: a real X server with trayer as the notification area.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QToolTip>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "reader/readerwindow.h"
#include "readerfixtures.h"
#include "store/feedstore.h"

namespace quorvel {
namespace {

using test::LoopbackServer;
using test::served;
using test::spin;
using test::waitUntil;

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The tray host's panel window and every window below it, as xwininfo lists them.
QString trayTree() {
    const QString panel =
        run("xdotool", {"search", "--name", "^panel$"}).split('\n').value(0).trimmed();
    if (panel.isEmpty())
        return QString();
    return run("xwininfo", {"-tree", "-id", panel});
}

// Icons embedded in the tray whose window bears the given name.
int iconsInTray(const QString& name) {
    return static_cast<int>(trayTree().count("\"" + name + "\": (\""));
}

// Where the tray host shows the icon of the given name on the screen: the centre of its
// embedded window, or (-1, -1).
QPoint iconCentre(const QString& name) {
    const QRegularExpression line("(0x[0-9a-f]+) \"" + QRegularExpression::escape(name) +
                                  "\": \\(.*\\)\\s+(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+\\s+"
                                  "\\+(-?\\d+)\\+(-?\\d+)");
    const QRegularExpressionMatch m = line.match(trayTree());
    if (!m.hasMatch())
        return QPoint(-1, -1);
    return QPoint(m.captured(4).toInt() + m.captured(2).toInt() / 2,
                  m.captured(5).toInt() + m.captured(3).toInt() / 2);
}

void moveMouse(const QPoint& at, const QStringList& then = {}) {
    run("xdotool",
        QStringList{"mousemove", QString::number(at.x()), QString::number(at.y())} + then);
}

// The tray host claims the notification area a moment after its panel appears.
bool trayHostReady() {
    return waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000);
}

TEST(TrayTest, TheIconComesAfterTheFirstCycleWithItsLastTipAndALeftClickRestores) {
    ASSERT_TRUE(trayHostReady());
    QTemporaryDir dir;
    LoopbackServer server;
    server.setRoute("/probe", served("ok"));
    server.setRoute("/a", served(test::rssFeed("Alpha", 3), 1500));
    FeedStore store{dir.path()};
    ASSERT_TRUE(
        test::writeFile(store.storePath(), test::storeText(test::feedElement(server.url("/a")))));
    CurlFetcher fetcher;
    test::AnsweringPrompter prompter;
    ReaderOptions options;
    options.probeAddress = server.url("/probe");
    ReaderWindow reader(store, fetcher, prompter, options);
    const QString name = QCoreApplication::applicationName();

    QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
    reader.start();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/a") == 1; }));
    spin(300);
    EXPECT_EQ(iconsInTray(name), 0) << "the icon came before the first cycle ended";
    ASSERT_TRUE(waitUntil([&] { return started.count() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return iconsInTray(name) == 1; }, 5000))
        << trayTree().toStdString();

    // Hovering shows the tip the cycle left last.
    moveMouse(QPoint(400, 300));
    moveMouse(iconCentre(name));
    EXPECT_TRUE(waitUntil([] { return QToolTip::isVisible(); }, 8000));
    EXPECT_EQ(QToolTip::text(), "Quorvel RSS Reader\r\nAlpha item 1");

    reader.hideToTray();
    ASSERT_FALSE(reader.isVisible());
    moveMouse(iconCentre(name), {"click", "1"});
    EXPECT_TRUE(waitUntil([&] { return reader.isVisible(); }, 5000));
    // Docked beside the panel: right edge, from the top down to the panel at 768.
    EXPECT_EQ(reader.frameGeometry().right(), 1279);
    EXPECT_LE(reader.frameGeometry().bottom(), 767);
}

// Whether an X window is mapped and lies on the 1280 px wide screen.
bool onScreenAndViewable(const QString& id) {
    const QString info = run("xwininfo", {"-id", id});
    const QRegularExpressionMatch x =
        QRegularExpression("Absolute upper-left X:\\s+(-?\\d+)").match(info);
    return info.contains("IsViewable") && x.hasMatch() && x.captured(1).toInt() < 1280;
}

// Two real processes: a second start hands over to the first and ends; after a crash the
// leftover socket does not stop the next start.
TEST(HandOverTest, ASecondStartBringsTheFirstForwardAndEndsWithoutTouchingAnything) {
    ASSERT_TRUE(trayHostReady());
    QTemporaryDir runtime, first, second, third;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    LoopbackServer server;
    server.setRoute("/probe", served("ok"));
    server.setRoute("/a", served(test::rssFeed("Alpha", 3)));
    // Started minimised: the first instance's window is out of sight.
    ASSERT_TRUE(test::writeFile(QDir(first.path()).filePath("rss_feeds.xml"),
                                test::storeText(test::feedElement(server.url("/a")), true)));
    const auto launch = [&](QProcess& process, const QTemporaryDir& dataDir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("QUORVEL_PROBE_URL", server.url("/probe"));
        env.remove("QT_QPA_PLATFORM");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QUORVEL_BINARY, {"--data-dir", dataDir.path()});
        return process.waitForStarted(5000);
    };
    const auto pageWritten = [](const QTemporaryDir& d) {
        return waitUntil([&] { return QFile::exists(QDir(d.path()).filePath("feeds.htm")); });
    };
    QProcess firstProcess, secondProcess, thirdProcess; // killed when they go out of scope

    ASSERT_TRUE(launch(firstProcess, first));
    ASSERT_TRUE(pageWritten(first));
    ASSERT_TRUE(waitUntil([&] { return iconsInTray("quorvel") == 1; }));
    const QString window =
        run("xdotool", {"search", "--name", "^Quorvel RSS Reader"}).split('\n').value(0).trimmed();
    ASSERT_FALSE(window.isEmpty());
    EXPECT_FALSE(onScreenAndViewable(window)) << "started minimised";

    ASSERT_TRUE(launch(secondProcess, second));
    ASSERT_TRUE(secondProcess.waitForFinished(10000));
    EXPECT_EQ(secondProcess.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(secondProcess.exitCode(), 0);
    EXPECT_TRUE(QDir(second.path()).isEmpty()) << "the second start wrote a file";
    EXPECT_TRUE(waitUntil([&] { return onScreenAndViewable(window); }, 5000))
        << "the first instance's window was not restored";
    EXPECT_EQ(iconsInTray("quorvel"), 1) << "the second start added a tray icon";

    firstProcess.kill();
    firstProcess.waitForFinished(5000);
    ASSERT_TRUE(launch(thirdProcess, third));
    EXPECT_TRUE(pageWritten(third));
    EXPECT_EQ(thirdProcess.state(), QProcess::Running);
}

} // namespace
} // namespace quorvel
