#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "platform/xmldocument.h"
#include "recordingport.h"
#include "refresh/connectivity.h"
#include "refresh/cyclegate.h"
#include "refresh/pagemarkup.h"
#include "refresh/refreshcycle.h"
#include "store/feedstore.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::readFile;
using test::served;
using test::writeFile;

using test::LoopbackServer;
using test::RecordingPort;
using test::Response;

const char* kCurrentRoot =
    "<root "
    "heading='font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;'"
    " body='font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:normal;"
    "background-color:#FFFFFF'"
    " link='font-family:arial;font-size:11;color:#0000FF;font-weight:bold;font-style:normal;'"
    " hover='color:#FF0000;font-weight:bold;font-style:normal;'"
    " visited='color:#FF0000;font-weight:bold;font-style:normal;'"
    " bDate='font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic'"
    " magnetic='false' refresh='60000' min='%1' trans='255' quorvelVersion='1_6_0_0'>";

class RefreshCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        server.setRoute("/probe", served("ok"));
    }

    QString onlineProbe() const { return server.url("/probe"); }
    QString offlineProbe() const { return QStringLiteral("http://127.0.0.1:1/"); }

    void writeStore(const QString& feeds, bool minimised = false) {
        ASSERT_TRUE(writeFile(store.storePath(),
                              (QString::fromLatin1(kCurrentRoot).arg(minimised ? "true" : "false") +
                               feeds + "</root>")
                                  .toUtf8()));
    }
    QString feedEntry(const QString& path, const QString& extra = QString()) const {
        return QStringLiteral("<feed url='%1' num='10' headers='false' disabled='false' %2/>")
            .arg(server.url(path), extra);
    }
    XmlNode storeRoot() {
        storeDocument = XmlDocument::fromFile(store.storePath());
        return storeDocument.documentElement();
    }
    QString rootAttr(const char* name) {
        const XmlDocument doc = XmlDocument::fromFile(store.storePath());
        return doc.documentElement().getAttribute(name).value_or("<missing>");
    }
    QString page() const {
        const QByteArray bytes = readFile(store.pagePath());
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "the page starts with a UTF-8 BOM";
        return QString::fromUtf8(bytes.mid(3));
    }

    QTemporaryDir dir;
    FeedStore store{dir.path()};
    LoopbackServer server;
    CurlFetcher fetcher;
    RecordingPort port;
    XmlDocument storeDocument;
};

TEST_F(RefreshCycleTest, FirstStartWritesACompleteDefaultStore) {
    RefreshCycle cycle(store, fetcher, port, offlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::Offline);

    XmlNode root = storeRoot();
    EXPECT_EQ(root.getAttribute("heading"),
              defaultStyleBlock().section(".heading{", 1).section("}", 0, 0));
    EXPECT_EQ(rootAttr("body"), "font-family:arial;font-size:11;color:#000000;font-weight:normal;"
                                "font-style:normal;background-color:#FFFFFF");
    EXPECT_EQ(rootAttr("hover"), rootAttr("visited"));
    EXPECT_EQ(rootAttr("magnetic"), "false");
    EXPECT_EQ(rootAttr("refresh"), "60000");
    EXPECT_EQ(rootAttr("min"), "false");
    EXPECT_EQ(rootAttr("trans"), "255");
    EXPECT_EQ(rootAttr("quorvelVersion"), "1_6_0_0");
    const auto feeds = root.childElements("feed");
    ASSERT_EQ(feeds.size(), 2u);
    EXPECT_EQ(feeds[0].getAttribute("headers"), "false");
    EXPECT_EQ(feeds[1].getAttribute("headers"), "true");
    for (const XmlNode& feed : feeds) {
        EXPECT_EQ(feed.getAttribute("num"), "10");
        EXPECT_EQ(feed.getAttribute("disabled"), "false");
    }
    // Offline at first start: the no-offline page is written and shown, nothing else.
    EXPECT_EQ(page(), noOfflinePage(defaultStyleBlock()));
    EXPECT_TRUE(port.prompts.empty());
    EXPECT_EQ(port.callsOf("tip"), QStringList{"Working Offline"});
    ASSERT_FALSE(port.callsOf("title").isEmpty());
    EXPECT_TRUE(port.callsOf("title").last().startsWith("Quorvel RSS Reader - Offline "));
    EXPECT_TRUE(port.callsOf("title").last().endsWith(" v.1.6.0.0"));
    EXPECT_EQ(port.callsOf("opacity"), QStringList{"255"});
}

TEST_F(RefreshCycleTest, OlderStoreIsUpgradedAfterTheMessageKeepingStylesAndMagnetic) {
    ASSERT_TRUE(writeFile(
        store.storePath(),
        "<root "
        "heading='font-family:x;font-size:9;color:#111111;font-weight:bold;font-style:normal;'"
        " body='b' link='l' hover='h' visited='v' bDate='d' magnetic='true' refresh='7200000'"
        " min='true' trans='200' quorvelVersion='1_5_0_0'></root>"));
    RefreshCycle cycle(store, fetcher, port, offlineProbe());
    cycle.refreshFeeds();

    ASSERT_EQ(port.prompts.size(), 1u);
    EXPECT_EQ(port.prompts[0].text, "Quorvel RSS Reader will now update");
    EXPECT_EQ(port.prompts[0].title, "Quorvel RSS Reader");
    // The message comes before the connection check (which sets the offline title).
    EXPECT_LT(port.calls.indexOf(QRegularExpression("prompt: .*")),
              port.calls.indexOf(QRegularExpression("title: .*Offline.*")));
    EXPECT_EQ(rootAttr("refresh"), "60000");
    EXPECT_EQ(rootAttr("min"), "false");
    EXPECT_EQ(rootAttr("trans"), "255");
    EXPECT_EQ(rootAttr("quorvelVersion"), "1_6_0_0");
    EXPECT_EQ(rootAttr("magnetic"), "true");
    EXPECT_EQ(rootAttr("body"), "b");
    EXPECT_EQ(rootAttr("bDate"), "d");
    EXPECT_TRUE(cycle.settings().magnetic);
    EXPECT_TRUE(port.calls.contains("magnetic: 1"));

    // The upgraded store never shows the message again, and 1_6_0_0 reads as current.
    RecordingPort again;
    RefreshCycle second(store, fetcher, again, offlineProbe());
    second.refreshFeeds();
    EXPECT_TRUE(again.prompts.empty());
}

TEST_F(RefreshCycleTest, StoreMissingOneStyleValueIsRepairedOnceAndKeepsLaterChoices) {
    ASSERT_TRUE(writeFile(
        store.storePath(),
        "<root heading='H;' body='B' link='L;' hover='Hv;' bDate='D' magnetic='false'"
        " refresh='300000' min='false' trans='100' quorvelVersion='1_6_0_0'><feed url='x'/>"
        "</root>"));
    RefreshCycle cycle(store, fetcher, port, offlineProbe());
    cycle.refreshFeeds();
    EXPECT_EQ(rootAttr("visited"), "color:#FF0000;font-weight:bold;font-style:normal;");
    EXPECT_EQ(rootAttr("heading"), "H;") << "present style values are kept";
    EXPECT_EQ(rootAttr("hover"), "Hv;");
    EXPECT_EQ(cycle.settings().visited, "color:#FF0000;font-weight:bold;font-style:normal;");
    XmlNode feed = storeRoot().firstChildElement("feed");
    EXPECT_EQ(feed.getAttribute("num"), "10");
    EXPECT_EQ(feed.getAttribute("headers"), "false");
    EXPECT_EQ(feed.getAttribute("disabled"), "false");

    // The user then picks five minutes; the next start reads it without another repair.
    XmlDocument doc = XmlDocument::fromFile(store.storePath());
    doc.documentElement().setAttribute("refresh", "300000");
    ASSERT_TRUE(doc.save(store.storePath()));
    RefreshCycle nextRun(store, fetcher, port, offlineProbe());
    nextRun.refreshFeeds();
    EXPECT_EQ(rootAttr("refresh"), "300000");
    EXPECT_EQ(nextRun.settings().refreshText, "300000");
}

TEST_F(RefreshCycleTest, UnreadableStoreIsNeverOverwrittenAndToldOncePerRun) {
    const QByteArray broken = "<root refresh='1'><feed url='a'></root>";
    ASSERT_TRUE(writeFile(store.storePath(), broken));
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::StoreUnreadable);
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::StoreUnreadable);

    EXPECT_EQ(readFile(store.storePath()), broken);
    ASSERT_EQ(port.prompts.size(), 1u);
    EXPECT_EQ(port.prompts[0].title, "Error");
    EXPECT_TRUE(port.prompts[0].text.contains(QDir::toNativeSeparators(store.storePath())))
        << port.prompts[0].text.toStdString();
    EXPECT_TRUE(port.prompts[0].text.contains("line")) << "names the parser's reason";
    EXPECT_TRUE(port.callsOf("page").contains(store.pagePath()));
    EXPECT_EQ(server.requestCount("/probe"), 0);
}

TEST_F(RefreshCycleTest, FullRunRendersFeedsLogsFailuresAndReportsProgressInSlotOrder) {
    server.setRoute("/a", served(test::rssFeed("Alpha", 3)));
    server.setRoute("/bad", served("<rss><channel>"));
    server.setRoute("/c", served(test::rssFeed("Gamma", 1), 150));
    writeStore(feedEntry("/a", "") + feedEntry("/missing") +
               QStringLiteral("<feed url='%1' num='10' headers='false' disabled='true'/>")
                   .arg(server.url("/c")) +
               feedEntry("/bad") + feedEntry("/c"));
    port.answers.push_back(MessageAnswer::Cancel);

    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);

    const QStringList titles = port.callsOf("title");
    ASSERT_GE(titles.size(), 7);
    EXPECT_EQ(titles[0], "Quorvel RSS Reader Loading...");
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(titles[i], QStringLiteral("Quorvel RSS Reader %1 of 5").arg(i));
    EXPECT_TRUE(titles[6].endsWith(" v.1.6.0.0"));
    QStringList tips = port.callsOf("tip");
    ASSERT_EQ(tips.size(), 6);
    EXPECT_EQ(tips[2], "Loading\r\n3 of 5");
    EXPECT_EQ(tips[5], "Quorvel RSS Reader\r\nAlpha item 1");
    EXPECT_EQ(cycle.firstItemTitle(), "Alpha item 1");

    QString expected;
    QString ignored;
    appendFeedMarkup(XmlDocument::parse(test::rssFeed("Alpha", 3)), 10, false, true, &expected,
                     &ignored);
    appendFeedMarkup(XmlDocument::parse(test::rssFeed("Gamma", 1)), 10, false, false, &expected,
                     &ignored);
    EXPECT_EQ(page(), pageSkeleton(defaultStyleBlock(), expected));
    EXPECT_EQ(server.requestCount("/c"), 1) << "the disabled entry is not fetched";

    const QStringList log = QString::fromUtf8(readFile(store.errorLogPath())).split("\r\n");
    ASSERT_EQ(log.size(), 4) << log.join("|").toStdString();
    EXPECT_EQ(log[0], "Invalid Feed URLs.  It is recommended that you disable them.");
    EXPECT_TRUE(log[1].endsWith(" " + server.url("/missing")));
    EXPECT_TRUE(log[2].endsWith(" " + server.url("/bad")));
    EXPECT_EQ(log[3], "");

    ASSERT_EQ(port.prompts.size(), 1u) << "one offer however many feeds failed";
    EXPECT_EQ(port.prompts[0].text, "There were errors. Click 'OK' to view the error log.");
    EXPECT_EQ(port.prompts[0].buttons, MessageButtons::OkCancel);
    EXPECT_TRUE(port.callsOf("open").isEmpty()) << "Cancel opens nothing";
    EXPECT_FALSE(cycle.errorFlag()) << "Cancel clears the flag as well";
    // The page is shown again only after the offer was answered.
    EXPECT_GT(port.calls.lastIndexOf("page: " + store.pagePath()),
              port.calls.indexOf(QRegularExpression("prompt: .*")));

    // A second run appends without a second heading; OK opens the log.
    port = RecordingPort();
    cycle.refreshFeeds();
    const QString log2 = QString::fromUtf8(readFile(store.errorLogPath()));
    EXPECT_EQ(log2.count("Invalid Feed URLs."), 1);
    EXPECT_EQ(log2.count("\r\n"), 5);
    EXPECT_EQ(port.callsOf("open"), QStringList{store.errorLogPath()});

    // Fixed feeds: no offer at all.
    server.setRoute("/missing", served(test::rssFeed("Beta", 1)));
    server.setRoute("/bad", served(test::rssFeed("Delta", 1)));
    port = RecordingPort();
    cycle.refreshFeeds();
    EXPECT_TRUE(port.prompts.empty());
}

TEST_F(RefreshCycleTest, OfflineOrAnEmptyProbeAnswerFetchesAndWritesNothing) {
    server.setRoute("/a", served(test::rssFeed("Alpha", 1)));
    writeStore(feedEntry("/a"));
    ASSERT_TRUE(writeFile(store.pagePath(), "previous page"));
    RefreshCycle cycle(store, fetcher, port, offlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::Offline);
    EXPECT_EQ(port.callsOf("tip"), QStringList{"Working Offline"});
    EXPECT_TRUE(port.callsOf("page").contains(store.pagePath()));

    // An empty answer: offline as well, but the title and tip stay as they were.
    server.setRoute("/probe", served(""));
    port = RecordingPort();
    RefreshCycle quiet(store, fetcher, port, onlineProbe());
    EXPECT_EQ(quiet.refreshFeeds(), CycleEnd::Offline);
    EXPECT_EQ(port.callsOf("title"), QStringList{"Quorvel RSS Reader Loading..."});
    EXPECT_TRUE(port.callsOf("tip").isEmpty());

    EXPECT_EQ(readFile(store.pagePath()), "previous page");
    EXPECT_EQ(server.requestCount("/a"), 0);
    EXPECT_FALSE(QFile::exists(store.errorLogPath()));
}

TEST_F(RefreshCycleTest, StoreWithoutFeedsWritesTheNoFeedsPageWithoutLoadingTitleWhenMinimised) {
    writeStore(QString(), true);
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::NoFeeds);
    EXPECT_EQ(page(), noFeedsPage(defaultStyleBlock()));
    EXPECT_FALSE(port.callsOf("title").contains("Quorvel RSS Reader Loading..."));
    EXPECT_TRUE(cycle.settings().startMinimised);
}

TEST_F(RefreshCycleTest, UnreadableEntryValuesTakeDefaultsAndNeverStopTheCycle) {
    server.setRoute("/a", served(test::rssFeed("Alpha", 12)));
    writeStore(QStringLiteral("<feed url='%1' num='lots' headers='maybe' disabled='perhaps'/>"
                              "<feed num='3'/>")
                   .arg(server.url("/a")));
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);
    EXPECT_EQ(page().count("target='_blank'"), 10) << "num falls back to 10";
    EXPECT_TRUE(page().contains("<p>text 1</p>")) << "headers falls back to false";
    const QString log = QString::fromUtf8(readFile(store.errorLogPath()));
    EXPECT_EQ(log.count("\r\n"), 2) << "the entry without url is logged as a bad feed";
}

TEST_F(RefreshCycleTest, PageThatCannotBeWrittenIsToldAndTheRunEnds) {
    server.setRoute("/a", served(test::rssFeed("Alpha", 1)));
    writeStore(feedEntry("/a"));
    ASSERT_TRUE(QDir().mkpath(store.pagePath())); // a folder where the page should go
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageNotWritten);
    ASSERT_EQ(port.prompts.size(), 1u);
    EXPECT_EQ(port.prompts[0].title, "Error");
    EXPECT_TRUE(port.prompts[0].text.contains("could not be written"));
}

TEST_F(RefreshCycleTest, CancelledCycleWritesNoPage) {
    server.setRoute("/slow", served(test::rssFeed("Slow", 1), 3000));
    writeStore(feedEntry("/slow"));
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cycle.cancel();
    });
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::Cancelled);
    canceller.join();
    EXPECT_FALSE(QFile::exists(store.pagePath() + ".tmp"));
    EXPECT_EQ(page(), noOfflinePage(defaultStyleBlock())) << "only the placeholder page";
}

TEST(CycleGate, QueuesExactlyOneMoreRun) {
    CycleGate gate;
    EXPECT_TRUE(gate.request());
    EXPECT_FALSE(gate.request());
    EXPECT_FALSE(gate.request());
    EXPECT_TRUE(gate.finish()) << "one more run follows";
    EXPECT_FALSE(gate.finish()) << "and only one";
    EXPECT_FALSE(gate.isRunning());
    EXPECT_TRUE(gate.request());
}

TEST(TrayTip, ShowsTextUpToTheFirstNulAndAtMost64Characters) {
    EXPECT_EQ(trayTipText(QStringLiteral("Loading\r\n1 of 2") + QChar(0) + "junk"),
              "Loading\r\n1 of 2");
    EXPECT_EQ(trayTipText(QString(100, 'x')).size(), 64);
    EXPECT_EQ(trayTipText(QStringLiteral("Working Offline").leftJustified(64)), "Working Offline");
}

} // namespace
} // namespace quorvel
