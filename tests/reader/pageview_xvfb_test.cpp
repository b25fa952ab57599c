// Runs inside xvfbsession.sh: the real program picks the window module of the view the
// store or --view asks for; the light view's process never maps the browser engine.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QSystemTrayIcon>

#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

// Whether the running process has the browser engine's library mapped.
bool mapsBrowserEngine(const QProcess& process) {
    return readFile(QStringLiteral("/proc/%1/maps").arg(process.processId()))
        .contains("libQt6WebEngineCore");
}

TEST(PageViewChoiceTest, TheStoreSettingChoosesTheViewAndTheSwitchOverridesIt) {
    ASSERT_TRUE(waitUntil(QSystemTrayIcon::isSystemTrayAvailable, 10000));
    QTemporaryDir runtime;
    ReaderRig rig;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qputenv("QUORVEL_PROBE_URL", rig.server.url("/probe").toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORM");

    struct Case {
        QString viewAttribute; // added to the store's root; empty: an old store without it
        QStringList switches;
        bool web;
    };
    const QList<Case> cases = {
        {"", {}, false},
        {"view='web'", {}, true},
        {"view='web'", {"--view=light"}, false},
        {"view='light'", {"--view", "web"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.viewAttribute + " " + c.switches.join(' ')).toStdString());
        QTemporaryDir data;
        QByteArray store = storeText(feedElement(rig.server.url("/a")), false);
        if (!c.viewAttribute.isEmpty())
            store.replace("<root ", "<root " + c.viewAttribute.toUtf8() + " ");
        const QString storePath = QDir(data.path()).filePath("rss_feeds.xml");
        ASSERT_TRUE(writeFile(storePath, store));
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QUORVEL_BINARY, QStringList{"--data-dir", data.path()} + c.switches);
        ASSERT_TRUE(process.waitForStarted(5000));
        ASSERT_TRUE(waitUntil([&] { return QFile::exists(QDir(data.path()).filePath("feeds.htm")); }));
#ifdef QUORVEL_WITH_WEBENGINE
        EXPECT_EQ(mapsBrowserEngine(process), c.web);
#else
        EXPECT_FALSE(mapsBrowserEngine(process)) << "the light view stands in";
#endif
        EXPECT_EQ(process.state(), QProcess::Running);
        EXPECT_EQ(readFile(storePath).contains("view="), !c.viewAttribute.isEmpty())
            << "the store keeps its form";
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace
} // namespace quorvel
