// Runs inside xvfbsession.sh: a real X server with trayer as the notification area.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>

#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString firstWindowNamed(const QString& pattern) {
    return run("xdotool", {"search", "--name", pattern}).split('\n').value(0).trimmed();
}

// Icons of that name embedded in the tray host's panel window.
qsizetype iconsInTray(const QString& name) {
    return run("xwininfo", {"-tree", "-id", firstWindowNamed("^panel$")})
        .count("\"" + name + "\": (\"");
}

// Whether an X window is mapped and lies on the 1280 px wide screen.
bool onScreenAndViewable(const QString& id) {
    const QString info = run("xwininfo", {"-id", id});
    const QRegularExpressionMatch x =
        QRegularExpression("Absolute upper-left X:\\s+(-?\\d+)").match(info);
    return info.contains("IsViewable") && x.hasMatch() && x.captured(1).toInt() < 1280;
}

// A second start hands over to the first and ends; a crash's leftover socket stops no start.
TEST(HandOverTest, ASecondStartBringsTheFirstForwardAndEndsWithoutTouchingAnything) {
    // The tray host claims the notification area a moment after its panel appears.
    ASSERT_TRUE(waitUntil(QSystemTrayIcon::isSystemTrayAvailable, 10000));
    QTemporaryDir runtime, first, second, third; // made owner-only, as a runtime dir must be
    ReaderRig rig;                               // for its server
    ASSERT_TRUE(writeFile(QDir(first.path()).filePath("rss_feeds.xml"),
                          storeText(feedElement(rig.server.url("/a")), true)));
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit()); // inherited by the processes
    qputenv("QUORVEL_PROBE_URL", rig.server.url("/probe").toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORM");
    const auto launch = [](QProcess& process, const QTemporaryDir& dataDir) {
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
    const QString window = firstWindowNamed("^Quorvel RSS Reader");
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
