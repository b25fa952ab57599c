// Runs inside xvfbsession.sh: a real X server with trayer as the notification area.
#include <gtest/gtest.h>

#include <algorithm>

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

// The first window whose name matches. The search fails now and then while other windows
// come and go, so it is repeated until it finds one or 10 s have passed.
QString firstWindowNamed(const QString& pattern) {
    QString id;
    waitUntil(
        [&] {
            if (id.isEmpty())
                id = run("xdotool", {"search", "--name", pattern}).split('\n').value(0).trimmed();
            return !id.isEmpty();
        },
        10000);
    return id;
}

// Icons of that name embedded in the tray host's panel window. (Without an id xwininfo
// would wait for a click.)
qsizetype iconsInTray(const QString& name) {
    const QString panel = firstWindowNamed("^panel$");
    return panel.isEmpty() ? -1
                           : run("xwininfo", {"-tree", "-id", panel}).count("\"" + name + "\": (\"");
}

// Whether an X window is mapped and lies on the 1280 px wide screen.
bool onScreenAndViewable(const QString& id) {
    const QString info = run("xwininfo", {"-id", id});
    const QRegularExpressionMatch x =
        QRegularExpression("Absolute upper-left X:\\s+(-?\\d+)").match(info);
    return info.contains("IsViewable") && x.hasMatch() && x.captured(1).toInt() < 1280;
}

// Whether a reader window is on screen. Searched afresh each time: the window is made anew
// once when its page view starts, so an id found earlier may be gone.
bool readerOnScreen() {
    const QStringList ids = run("xdotool", {"search", "--name", "^Quorvel RSS Reader"})
                                .split('\n', Qt::SkipEmptyParts);
    return std::any_of(ids.begin(), ids.end(),
                       [](const QString& id) { return onScreenAndViewable(id.trimmed()); });
}

// A second start hands over to the first and ends.
TEST(HandOverTest, ASecondStartHandsOverToTheRunningReader) {
    // The tray host claims the notification area a moment after its panel appears.
    ASSERT_TRUE(waitUntil(QSystemTrayIcon::isSystemTrayAvailable, 10000));
    QTemporaryDir runtime, first, second; // owner-only, as a runtime dir must be
    ReaderRig rig;                        // for its server
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
    QProcess firstProcess, secondProcess; // killed at scope end

    ASSERT_TRUE(launch(firstProcess, first));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(QDir(first.path()).filePath("feeds.htm")); }));
    ASSERT_TRUE(waitUntil([&] { return iconsInTray("quorvel") == 1; }));
    ASSERT_FALSE(firstWindowNamed("^Quorvel RSS Reader").isEmpty());
    EXPECT_FALSE(readerOnScreen()) << "started minimised";

    ASSERT_TRUE(launch(secondProcess, second));
    ASSERT_TRUE(secondProcess.waitForFinished(10000));
    EXPECT_EQ(secondProcess.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(secondProcess.exitCode(), 0);
    EXPECT_TRUE(QDir(second.path()).isEmpty()) << "the second start wrote a file";
    EXPECT_TRUE(waitUntil(readerOnScreen, 5000))
        << "the first instance's window was not restored";
    EXPECT_EQ(iconsInTray("quorvel"), 1) << "the second start added a tray icon";
}

} // namespace
} // namespace quorvel
