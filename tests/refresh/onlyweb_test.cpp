#include <gtest/gtest.h>

#include <chrono>

#include <QTemporaryDir>
#include <QUrl>
#include <sys/stat.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "recordingport.h"
#include "refresh/refreshcycle.h"
#include "store/feedstore.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

const char* kStoreRoot =
    "<root heading='font-weight:bold;' body='font-size:11;' link='color:#0000FF;'"
    " hover='color:#FF0000;' visited='color:#FF0000;' bDate='font-style:italic'"
    " magnetic='false' refresh='60000' min='false' trans='255' quorvelVersion='1_6_0_0'>";

class FeedAddressesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        server.setRoute("/probe", served("ok"));
        server.setRoute("/web", served(rssFeed("Web", 1)));
    }

    void writeStore(const QStringList& urls) {
        QString entries;
        for (const QString& url : urls)
            entries += QStringLiteral("<feed url='%1' num='10' headers='false' disabled='false'/>")
                           .arg(url.toHtmlEscaped());
        ASSERT_TRUE(writeFile(store.storePath(), (kStoreRoot + entries + "</root>").toUtf8()));
    }

    // Runs one cycle; the seconds it took.
    double refresh(Fetcher& fetcher) {
        const auto start = Clock::now();
        RefreshCycle cycle(store, fetcher, port, server.url("/probe"));
        EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    QString page() const { return QString::fromUtf8(readFile(store.pagePath())); }
    QStringList logLines() const {
        return QString::fromUtf8(readFile(store.errorLogPath())).split("\r\n", Qt::SkipEmptyParts);
    }
    // How many lines of error.log record url.
    qsizetype logged(const QString& url) const {
        qsizetype count = 0;
        for (const QString& line : logLines())
            count += line.endsWith(" " + url) ? 1 : 0;
        return count;
    }

    QTemporaryDir dir;
    FeedStore store{dir.path()};
    LoopbackServer server;
    RecordingPort port;
};

TEST_F(FeedAddressesTest, DevicesFifosLocalFilesAndOtherSchemesAreBadFeedsAndNeverRead) {
    const QString local = dir.filePath("local.xml");
    ASSERT_TRUE(writeFile(local, rssFeed("Local secret", 1)));
    const QString fifo = dir.filePath("feed.fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QStringList refused{"file:///dev/ptmx",
                              "/dev/ptmx",
                              fifo,
                              QUrl::fromLocalFile(fifo).toString(),
                              local,
                              QUrl::fromLocalFile(local).toString(),
                              "ftp://127.0.0.1/feed.xml",
                              "data:text/plain;base64,c2VjcmV0"};
    writeStore(QStringList{server.url("/web")} + refused);
    CurlFetcher fetcher;

    EXPECT_LT(refresh(fetcher), 10.0);
    EXPECT_TRUE(page().contains("Web item 1"));
    EXPECT_FALSE(page().contains("secret"));
    EXPECT_EQ(logLines().size(), refused.size() + 1) << "the heading, then one line per bad feed";
    for (const QString& url : refused)
        EXPECT_EQ(logged(url), 1) << url.toStdString();
    EXPECT_EQ(logged(server.url("/web")), 0);
    EXPECT_EQ(port.callsOf("title").filter(" 9 of 9").size(), 1) << "every entry counted";
}

TEST_F(FeedAddressesTest, FeedsNotDoneByTheCycleDeadlineCountAsBadAndTheRestIsPaged) {
    server.setRoute("/stalled", served(rssFeed("Stalled", 1), 30000));
    server.setRoute("/late", served(rssFeed("Late", 1), 30000));
    writeStore({server.url("/stalled"), server.url("/web"), server.url("/late")});
    FetchLimits limits;
    limits.batchTimeoutMs = 1000;
    CurlFetcher fetcher(limits);

    const double seconds = refresh(fetcher);
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 8.0);
    EXPECT_TRUE(page().contains("Web item 1"));
    EXPECT_FALSE(page().contains("Stalled") || page().contains("Late"));
    EXPECT_EQ(logLines().size(), 3);
    EXPECT_EQ(logged(server.url("/stalled")), 1);
    EXPECT_EQ(logged(server.url("/late")), 1);
}

} // namespace
} // namespace quorvel
