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
    QString out, err;
};

ProcessResult runQuorvel(const QStringList& arguments, const QString& probe = QString()) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
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
    const CommandLine line = parseCommandLine({"--refresh", "--data-dir", "/tmp/x"});
    EXPECT_TRUE(line.refresh && line.error.isEmpty() && line.dataDir == "/tmp/x");
    EXPECT_FALSE(parseCommandLine({"--data-dir"}).error.isEmpty()) << "a missing value";
    EXPECT_EQ(parseCommandLine({"--view=web"}).view, "web");
    EXPECT_EQ(parseCommandLine({"--view", "light"}).view, "light");
    EXPECT_TRUE(parseCommandLine({"--view=light"}).error.isEmpty());
    EXPECT_FALSE(parseCommandLine({"--view=bright"}).error.isEmpty());
    EXPECT_FALSE(parseCommandLine({"--view"}).error.isEmpty());
    const ProcessResult bad = runQuorvel({"--bogus"});
    EXPECT_NE(bad.status, 0);
    EXPECT_TRUE(bad.err.contains("unknown argument: --bogus"));
}

TEST(HeadlessBinary, RefreshesFeedsFromALoopbackServerAndPrintsThePage) {
    LoopbackServer server, prober; // the probe's bytes are not the feeds'
    prober.setRoute("/probe", served("up"));
    server.setRoute("/news", served("<rss><channel><title>News</title><item><title>"
                                    "Headline</title></item></channel></rss>"));
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(
        dir.path() + "/rss_feeds.xml",
        QStringLiteral("<root><feed url='%1' num='5' headers='true'/><feed url='%2'/></root>")
            .arg(server.url("/news"), server.url("/gone"))
            .toUtf8()));

    const ProcessResult run =
        runQuorvel({"--refresh", "--data-dir", dir.path()}, prober.url("/probe"));
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), dir.path() + "/feeds.htm");
    EXPECT_TRUE(run.err.contains("title: Quorvel RSS Reader 1 of 2")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("tip: Quorvel RSS Reader | Headline"));
    EXPECT_TRUE(run.err.contains("There were errors. Click 'OK' to view the error log."));
    EXPECT_TRUE(run.err.contains("error log: " + dir.path() + "/error.log"));
    EXPECT_TRUE(readFile(dir.path() + "/feeds.htm").contains("<span class='heading'>News</span>"));
    const QString summary = QStringLiteral(
        "feeds: 1 fetched, 0 unchanged, 0 from the cache, 1 failed; %1 bytes received");
    EXPECT_TRUE(run.err.contains(summary.arg(server.bytesSent()))) << run.err.toStdString();
}

TEST(HeadlessBinary, OfflineStillSucceedsAndUnreadableStoreFails) {
    QTemporaryDir dir;
    const QStringList refresh{"--refresh", "--data-dir", dir.path()};
    ProcessResult run = runQuorvel(refresh, "http://127.0.0.1:1/");
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("tip: Working Offline"));
    EXPECT_TRUE(QFile::exists(dir.path() + "/rss_feeds.xml"));

    ASSERT_TRUE(writeFile(dir.path() + "/rss_feeds.xml", "<root>"));
    run = runQuorvel(refresh, "http://127.0.0.1:1/");
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("rss_feeds.xml")) << run.err.toStdString();
    EXPECT_EQ(readFile(dir.path() + "/rss_feeds.xml"), "<root>") << "never overwritten";
}

TEST(OpmlCommands, ImportThenExportToStandardOutputAndFailuresExitNonZero) {
    LoopbackServer server;
    server.setRoute("/probe", served("up"));
    server.setRoute("/a", served("<rss><channel><title>Alpha</title></channel></rss>"));
    server.setRoute("/kept", served("<rss><channel><title>Kept</title></channel></rss>"));
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.path() + "/rss_feeds.xml",
                          "<root><feed url='" + server.url("/kept").toUtf8() + "'/></root>"));
    // A refresh keeps a copy of the feed, whose server then goes down.
    ProcessResult run = runQuorvel({"--refresh", "--data-dir", dir.path()}, server.url("/probe"));
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    server.setRoute("/kept", {.status = 503, .body = "down"});
    const QString opml = dir.path() + "/in.opml";
    ASSERT_TRUE(writeFile(opml, "<opml><body><outline xmlUrl='" + server.url("/a").toUtf8() +
                                    "'/></body></opml>"));
    run = runQuorvel({"--data-dir", dir.path(), "--import-opml", opml});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Imported 1 feeds")) << run.err.toStdString();
    run = runQuorvel({"--data-dir", dir.path(), "--export-opml", "-"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    const QString outline("<outline text=\"%1\" title=\"%1\" xmlUrl = \"%2\" />");
    EXPECT_TRUE(run.out.contains(outline.arg("Alpha", server.url("/a")))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(outline.arg("Kept", server.url("/kept"))))
        << "the title comes from the kept copy";
    EXPECT_EQ(server.requestCount("/kept"), 1) << "only the refresh asked for it";
    EXPECT_TRUE(run.err.contains("Looking up feed titles: 2 of 2"));

    run = runQuorvel({"--data-dir", dir.path(), "--import-opml", dir.path() + "/none.opml"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("This does not seem to be a valid OPML file.  Please try again"));
    run = runQuorvel({"--data-dir", dir.path(), "--export-opml", dir.path() + "/no/dir/x.opml"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("the export failed")) << run.err.toStdString();
}

} // namespace
} // namespace quorvel
