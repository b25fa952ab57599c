#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "loopbackserver.h"
#include "quorvelprocess.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using namespace test;

TEST(HeadlessBinary, RefreshesFromALoopbackServerPrintsThePageAndNeverWritesThroughLinks) {
    LoopbackServer server, prober; // the probe's bytes are not the feeds'
    prober.setRoute("/probe", served("up"));
    server.setRoute("/news", served("<rss><channel><title>News</title><item><title>"
                                    "Headline</title></item></channel></rss>"));
    QTemporaryDir dir;
    const QString data = dir.path();
    // Besides the news, 2,500 feeds on a port that refuses connections.
    QByteArray store = "<root><feed url='" + server.url("/news").toUtf8() + "' num='5' headers='true'/>";
    for (int i = 0; i < 2500; ++i)
        store += "<feed url='http://127.0.0.1:1/dead/" + QByteArray::number(i) + "'/>";
    store += "</root>";
    ASSERT_TRUE(writeFile(data + "/rss_feeds.xml", store));
    for (const char* name : {"feeds.htm", "error.log"}) {
        ASSERT_TRUE(writeFile(data + "/victim-" + name, "the user's own file\n"));
        ASSERT_TRUE(QFile::link(data + "/victim-" + name, data + "/" + name));
    }

    Quorvel run({"--refresh", "--data-dir", data}, {.probe = prober.url("/probe")});
    ASSERT_EQ(run.finish(), 0) << run.err().toStdString();
    EXPECT_EQ(run.out().trimmed(), data + "/feeds.htm");
    EXPECT_TRUE(run.err().contains("title: Quorvel RSS Reader 1 of 2501"));
    EXPECT_TRUE(run.err().contains("tip: Quorvel RSS Reader | Headline"));
    EXPECT_TRUE(run.err().contains("There were errors. Click 'OK' to view the error log."));
    EXPECT_TRUE(run.err().contains("error log: " + data + "/error.log"));
    EXPECT_TRUE(readFile(data + "/feeds.htm").contains("<span class='heading'>News</span>"));
    const QString summary = QStringLiteral(
        "feeds: 1 fetched, 0 unchanged, 0 from the cache, 2500 failed; %1 bytes received");
    EXPECT_TRUE(run.err().contains(summary.arg(server.bytesSent()))) << run.err().toStdString();

    for (const char* name : {"feeds.htm", "error.log"}) {
        EXPECT_EQ(readFile(data + "/victim-" + name), "the user's own file\n") << name;
        EXPECT_FALSE(QFileInfo(data + "/" + name).isSymLink()) << name;
        EXPECT_EQ(fileMode(data + "/" + name), 0600) << name;
    }
    const QByteArray log = readFile(data + "/error.log");
    EXPECT_EQ(log.count("\r\n"), 1 + 2500) << "the heading and one line per dead feed";
    EXPECT_EQ(log.count('\n'), log.count("\r\n"));
}

TEST(HeadlessBinary, OfflineStillSucceedsAndUnreadableStoreFailsAndStrangersAreRefused) {
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    // Run from dir: every file goes to the folder given after the equals sign.
    Quorvel offline({"--refresh", "--data-dir=" + data}, {.workingDir = dir.path()});
    EXPECT_EQ(offline.finish(), 0) << offline.err().toStdString();
    EXPECT_TRUE(offline.err().contains("tip: Working Offline"));
    EXPECT_TRUE(QFile::exists(data + "/rss_feeds.xml"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"data"});

    ASSERT_TRUE(writeFile(data + "/rss_feeds.xml", "<root>"));
    Quorvel unreadable({"--refresh", "--data-dir", data});
    EXPECT_NE(unreadable.finish(), 0);
    EXPECT_TRUE(unreadable.err().contains("rss_feeds.xml")) << unreadable.err().toStdString();
    EXPECT_EQ(readFile(data + "/rss_feeds.xml"), "<root>") << "never overwritten";

    Quorvel bogus({"--bogus"});
    EXPECT_NE(bogus.finish(), 0);
    EXPECT_TRUE(bogus.err().contains("unknown argument: --bogus"));
}

TEST(OpmlCommands, ImportThenExportToStandardOutputAndFailuresExitNonZero) {
    LoopbackServer server;
    server.setRoute("/probe", served("up"));
    server.setRoute("/a", served("<rss><channel><title>Alpha</title></channel></rss>"));
    server.setRoute("/kept", served("<rss><channel><title>Kept</title></channel></rss>"));
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.path() + "/rss_feeds.xml",
                          "<root><feed url='" + server.url("/kept").toUtf8() + "'/></root>"));
    const auto run = [&](const QStringList& arguments, int status) {
        Quorvel quorvel(QStringList{"--data-dir", dir.path()} + arguments,
                        {.probe = server.url("/probe")});
        EXPECT_EQ(quorvel.finish(), status) << quorvel.err().toStdString();
        return std::pair(quorvel.out(), quorvel.err());
    };
    // A refresh keeps a copy of the feed, whose server then goes down.
    run({"--refresh"}, 0);
    server.setRoute("/kept", {.status = 503, .body = "down"});
    const QString opml = dir.path() + "/in.opml";
    ASSERT_TRUE(writeFile(opml, "<opml><body><outline xmlUrl='" + server.url("/a").toUtf8() +
                                    "'/></body></opml>"));
    EXPECT_TRUE(run({"--import-opml", opml}, 0)
                    .second.contains(QRegularExpression("^Imported 1 feeds into \\S+; 0 were already "
                                                        "in the list; 0 were not web addresses\n$")));
    const auto [out, err] = run({"--export-opml", "-"}, 0);
    const QString outline("<outline text=\"%1\" title=\"%1\" xmlUrl = \"%2\" />");
    EXPECT_TRUE(out.contains(outline.arg("Alpha", server.url("/a")))) << out.toStdString();
    EXPECT_TRUE(out.contains(outline.arg("Kept", server.url("/kept"))))
        << "the title comes from the kept copy";
    EXPECT_EQ(server.requestCount("/kept"), 1) << "only the refresh asked for it";
    EXPECT_TRUE(err.contains("Looking up feed titles: 2 of 2")) << err.toStdString();

    EXPECT_TRUE(run({"--import-opml", dir.path() + "/none.opml"}, 1)
                    .second.contains("This does not seem to be a valid OPML file.  Please try again"));
    EXPECT_TRUE(run({"--export-opml", dir.path() + "/no/dir/x.opml"}, 1)
                    .second.contains("the export failed"));
}

} // namespace
} // namespace quorvel
