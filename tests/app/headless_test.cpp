#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "app/commandline.h"
#include "loopbackserver.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::readFile;
using test::served;
using test::writeFile;

using test::LoopbackServer;
using test::Response;

struct ProcessResult {
    int status = -1;
    QString out;
    QString err;
};

ProcessResult runQuorvel(const QStringList& arguments, const QString& probe = QString()) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (!probe.isEmpty())
        env.insert("QUORVEL_PROBE_URL", probe);
    process.setProcessEnvironment(env);
    process.start(QUORVEL_BINARY, arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return ProcessResult{process.exitCode(),
                         QString::fromLocal8Bit(process.readAllStandardOutput()),
                         QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(CommandLine, ParsesOptionsAndRejectsStrangers) {
    CommandLine line = parseCommandLine({"--refresh", "--data-dir", "/tmp/x"});
    EXPECT_TRUE(line.refresh);
    EXPECT_EQ(line.dataDir, "/tmp/x");
    EXPECT_TRUE(line.error.isEmpty());
    EXPECT_FALSE(parseCommandLine({"--data-dir"}).error.isEmpty());
    EXPECT_FALSE(parseCommandLine({"--frobnicate"}).error.isEmpty());
    EXPECT_EQ(parseCommandLine({"--export-opml", "-"}).exportOpml, "-");
}

TEST(HeadlessBinary, RefreshesFeedsFromALoopbackServerAndPrintsThePage) {
    LoopbackServer server;
    server.setRoute("/probe", served("up"));
    server.setRoute("/news", served("<rss><channel><title>News</title><item><title>"
                                    "Headline</title></item></channel></rss>"));
    QTemporaryDir dir;
    QFile store(dir.path() + "/rss_feeds.xml");
    ASSERT_TRUE(store.open(QIODevice::WriteOnly));
    store.write(
        QStringLiteral("<root><feed url='%1' num='5' headers='true'/><feed url='%2'/></root>")
            .arg(server.url("/news"), server.url("/gone"))
            .toUtf8());
    store.close();

    const ProcessResult run =
        runQuorvel({"--refresh", "--data-dir", dir.path()}, server.url("/probe"));
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), dir.path() + "/feeds.htm");
    EXPECT_TRUE(run.err.contains("title: Quorvel RSS Reader 1 of 2")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("tip: Quorvel RSS Reader | Headline"));
    EXPECT_TRUE(run.err.contains("There were errors. Click 'OK' to view the error log."));
    EXPECT_TRUE(run.err.contains("error log: " + dir.path() + "/error.log"));
    QFile page(dir.path() + "/feeds.htm");
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_TRUE(page.readAll().contains("<span class='heading'>News</span>"));
}

TEST(HeadlessBinary, OfflineStillSucceedsAndUnreadableStoreFails) {
    QTemporaryDir dir;
    ProcessResult run = runQuorvel({"--refresh", "--data-dir", dir.path()}, "http://127.0.0.1:1/");
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("tip: Working Offline"));
    EXPECT_TRUE(QFile::exists(dir.path() + "/rss_feeds.xml"));

    QFile store(dir.path() + "/rss_feeds.xml");
    ASSERT_TRUE(store.open(QIODevice::WriteOnly | QIODevice::Truncate));
    store.write("<root>");
    store.close();
    run = runQuorvel({"--refresh", "--data-dir", dir.path()}, "http://127.0.0.1:1/");
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("rss_feeds.xml")) << run.err.toStdString();
}

TEST(HeadlessBinary, HelpVersionAndBadArguments) {
    EXPECT_EQ(runQuorvel({"--version"}).out.trimmed(), "Quorvel RSS Reader " QUORVEL_VERSION_TEXT);
    EXPECT_TRUE(runQuorvel({"--help"}).out.contains("--data-dir DIR"));
    const ProcessResult bad = runQuorvel({"--bogus"});
    EXPECT_NE(bad.status, 0);
    EXPECT_TRUE(bad.err.contains("unknown argument: --bogus"));
}

} // namespace
} // namespace quorvel

namespace quorvel {
namespace {

TEST(OpmlCommands, ImportThenExportToStandardOutput) {
    LoopbackServer server;
    server.setRoute("/a", served("<rss><channel><title>Alpha</title></channel></rss>"));
    QTemporaryDir dir;
    QFile opml(dir.path() + "/in.opml");
    ASSERT_TRUE(opml.open(QIODevice::WriteOnly));
    opml.write(QStringLiteral("<opml><body><outline xmlUrl='%1'/></body></opml>")
                   .arg(server.url("/a"))
                   .toUtf8());
    opml.close();

    // A first import creates the feed list as the reader would (two default feeds), then
    // adds the outline.
    ProcessResult run = runQuorvel({"--data-dir", dir.path(), "--import-opml", opml.fileName()});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Imported 1 feeds")) << run.err.toStdString();

    run = runQuorvel({"--data-dir", dir.path(), "--export-opml", "-"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("<outline text=\"Alpha\" title=\"Alpha\" "
                                                "xmlUrl = \"%1\" />")
                                     .arg(server.url("/a"))))
        << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("Looking up feed titles: 3 of 3"));
}

TEST(OpmlCommands, FailuresExitNonZeroWithAMessage) {
    QTemporaryDir dir;
    ProcessResult run =
        runQuorvel({"--data-dir", dir.path(), "--import-opml", dir.path() + "/none.opml"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("This does not seem to be a valid OPML file.  Please try again"));
    run = runQuorvel({"--data-dir", dir.path(), "--export-opml", dir.path() + "/no/dir/x.opml"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("the export failed")) << run.err.toStdString();
}

} // namespace
} // namespace quorvel
