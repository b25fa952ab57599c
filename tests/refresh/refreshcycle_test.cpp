#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "cyclefixture.h"
#include "feed/feedparser.h"
#include "platform/xmldocument.h"
#include "refresh/cyclegate.h"
#include "refresh/pagemarkup.h"
#include "refresh/refreshcycle.h"

namespace quorvel {
namespace {

using namespace test;

class RefreshCycleTest : public CycleFixture {
protected:
    // The values of these attributes of the store's root (or of each feed entry), joined
    // with ' ' (and the entries with '|').
    QString attrs(const QStringList& names, bool ofFeeds = false) const {
        const XmlDocument doc = XmlDocument::fromFile(store.storePath());
        const XmlNode root = doc.documentElement();
        QStringList nodes;
        for (const XmlNode& node : ofFeeds ? root.childElements("feed") : std::vector{root}) {
            QStringList values;
            for (const QString& name : names)
                values << node.getAttribute(name).value_or("<missing>");
            nodes << values.join(' ');
        }
        return nodes.join('|');
    }
};

TEST_F(RefreshCycleTest, FirstStartOfflineWritesACompleteDefaultStoreAndTheOfflinePage) {
    RefreshCycle cycle(store, fetcher, port, offlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::Offline);

    EXPECT_EQ(attrs({"magnetic", "refresh", "min", "trans", "quorvelVersion"}),
              "false 60000 false 255 1_6_0_0");
    EXPECT_EQ(attrs({"num", "headers", "disabled"}, true), "10 false false|10 true false");
    EXPECT_EQ(page(), noOfflinePage(defaultStyleBlock()));
    EXPECT_TRUE(port.prompts.empty());
    EXPECT_EQ(port.callsOf("tip"), QStringList{"Working Offline"});
    const QString title = port.callsOf("title").value(port.callsOf("title").size() - 1);
    EXPECT_TRUE(title.startsWith("Quorvel RSS Reader - Offline ")) << title.toStdString();
    EXPECT_TRUE(title.endsWith(" v.1.6.0.0"));
}

TEST_F(RefreshCycleTest, OlderStoreIsUpgradedAfterTheMessageKeepingStylesAndMagnetic) {
    ASSERT_TRUE(writeFile(store.storePath(),
                          "<root heading='x' body='b' link='l' hover='h' visited='v' bDate='d'"
                          " magnetic='true' refresh='7200000' min='true' trans='200'"
                          " quorvelVersion='1_5_0_0'></root>"));
    RefreshCycle cycle(store, fetcher, port, offlineProbe());
    cycle.refreshFeeds();

    ASSERT_EQ(port.prompts.size(), 1u);
    EXPECT_EQ(port.prompts[0].title + "|" + port.prompts[0].text,
              "Quorvel RSS Reader|Quorvel RSS Reader will now update");
    // The message comes before the connection check (which sets the offline title).
    EXPECT_LT(port.calls.indexOf(QRegularExpression("prompt: .*")),
              port.calls.indexOf(QRegularExpression("title: .*Offline.*")));
    EXPECT_EQ(attrs({"refresh", "min", "trans", "quorvelVersion", "magnetic", "body", "bDate"}),
              "60000 false 255 1_6_0_0 true b d");
    EXPECT_TRUE(port.calls.contains("magnetic: 1"));

    RecordingPort again; // the upgraded store reads as current: no second message
    RefreshCycle(store, fetcher, again, offlineProbe()).refreshFeeds();
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
    const QString visited = "color:#FF0000;font-weight:bold;font-style:normal;";
    EXPECT_EQ(attrs({"visited", "heading", "hover"}), visited + " H; Hv;") << "others are kept";
    EXPECT_EQ(attrs({"num", "headers", "disabled"}, true), "10 false false");
    // The user then picks five minutes; the next start reads it without another repair.
    XmlDocument doc = XmlDocument::fromFile(store.storePath());
    doc.documentElement().setAttribute("refresh", "300000");
    ASSERT_TRUE(doc.save(store.storePath()));
    RefreshCycle nextRun(store, fetcher, port, offlineProbe());
    nextRun.refreshFeeds();
    EXPECT_EQ(attrs({"refresh"}), "300000");
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
    server.setRoute("/a", served(rssFeed("Alpha", 3)));
    server.setRoute("/bad", served("<rss><channel>"));
    server.setRoute("/c", served(rssFeed("Gamma", 1), 150));
    writeStore(feedEntry("/a") + feedEntry("/missing") + feedEntry("/c", "true") +
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
    const QStringList tips = port.callsOf("tip");
    ASSERT_EQ(tips.size(), 6);
    EXPECT_EQ(tips[2], "Loading\r\n3 of 5");
    EXPECT_EQ(tips[5], "Quorvel RSS Reader\r\nAlpha item 1");
    EXPECT_EQ(cycle.firstItemTitle(), "Alpha item 1");

    QString expected, ignored;
    appendFeedMarkup(parseFeed(rssFeed("Alpha", 3), {}).feed, false, true, &expected, &ignored);
    appendFeedMarkup(parseFeed(rssFeed("Gamma", 1), {}).feed, false, false, &expected, &ignored);
    EXPECT_EQ(page(), pageSkeleton(buildStyleBlock(cycle.settings()), expected));
    EXPECT_EQ(server.requestCount("/c"), 1) << "the disabled entry is not fetched";

    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 3) << log.join("|").toStdString();
    EXPECT_EQ(log[0], "Invalid Feed URLs.  It is recommended that you disable them.");
    EXPECT_TRUE(log[1].endsWith(" " + server.url("/missing")));
    EXPECT_TRUE(log[2].endsWith(" " + server.url("/bad")));

    ASSERT_EQ(port.prompts.size(), 1u) << "one offer however many feeds failed";
    EXPECT_EQ(port.prompts[0].text, "There were errors. Click 'OK' to view the error log.");
    EXPECT_EQ(port.prompts[0].buttons, MessageButtons::OkCancel);
    EXPECT_TRUE(port.callsOf("open").isEmpty()) << "Cancel opens nothing";
    EXPECT_FALSE(cycle.errorFlag()) << "Cancel clears the flag as well";
    // The new page is on screen before the question, not hidden behind it.
    const qsizetype asked = port.calls.indexOf(QRegularExpression("prompt: .*"));
    const qsizetype shown = port.calls.lastIndexOf("page: " + store.pagePath());
    EXPECT_GT(shown, port.calls.indexOf(QRegularExpression("title: .* v\\.1\\.6\\.0\\.0")))
        << "shown after it was written";
    EXPECT_LT(shown, asked);
    EXPECT_EQ(port.calls.mid(asked + 1), QStringList{"opacity: 255"});
}

TEST_F(RefreshCycleTest, TheErrorLogIsOfferedAgainOnlyWhenTheFailedFeedsChange) {
    server.setRoute("/a", served(rssFeed("Alpha", 1)));
    writeStore(feedEntry("/a") + feedEntry("/missing") + feedEntry("/gone"));
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    // Each run: the offers it made, what the log holds after it.
    const auto run = [&] {
        port = RecordingPort();
        EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);
        return port.prompts.size();
    };
    EXPECT_EQ(run(), 1u);
    EXPECT_EQ(run(), 0u) << "the same two dead feeds ask only once";
    EXPECT_EQ(logLines().size(), 5) << "but every run still logs them";
    EXPECT_FALSE(cycle.errorFlag());

    server.setRoute("/gone", served(rssFeed("Gone", 1)));
    EXPECT_EQ(run(), 1u) << "one of them recovered: a different set";
    EXPECT_EQ(port.callsOf("open"), QStringList{store.errorLogPath()}) << "OK opens the log";
    EXPECT_EQ(run(), 0u);

    server.setRoute("/missing", served(rssFeed("Back", 1)));
    EXPECT_EQ(run(), 0u) << "no failures, no offer";
    server.setRoute("/missing", Response{.status = 404});
    EXPECT_EQ(run(), 1u) << "a feed failing again after a clean run is news";
}

TEST_F(RefreshCycleTest, EachEnabledFeedsOutcomeIsReportedOnceInStoreOrderBeforeTheOffer) {
    server.setRoute("/a", served(rssFeed("Alpha", 3)));
    server.setRoute("/missing", Response{.status = 404});
    server.setRoute("/page", served("<html><head><title>Home</title></head><body/></html>"));
    server.setRoute("/bad", served("<rss><channel>"));
    server.setRoute("/other", served("<opml version='1.0'><body/></opml>"));
    const QString refused = offlineProbe() + "feed";
    writeStore(feedEntry("/a") + feedEntry("/missing") + feedEntry("/a", "true") + "<feed url='" +
               refused + "' num='10' headers='false' disabled='false'/>" + feedEntry("/page") +
               feedEntry("/bad") + feedEntry("/other") +
               "<feed url=' ' num='10' headers='false' disabled='false'/>");

    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);

    ASSERT_EQ(port.outcomeRuns.size(), 1u);
    QStringList seen;
    for (const FeedOutcome& outcome : port.outcomeRuns[0])
        seen << outcome.url + " " + feedCheckSummary(outcome.check);
    EXPECT_EQ(seen, (QStringList{
                        server.url("/a") + " Alpha: loaded with 3 items",
                        server.url("/missing") + " Failed: HTTP 404", refused + " Failed: refused",
                        server.url("/page") + " Failed: a web page, not a feed",
                        server.url("/bad") + " Failed: not well-formed",
                        server.url("/other") + " Failed: not a feed", " Failed: no address"}))
        << "the disabled entry has none";
    EXPECT_TRUE(port.outcomeRuns[0][0].check.ok);
    EXPECT_FALSE(port.outcomeRuns[0][1].check.ok);
    EXPECT_LT(port.calls.indexOf("outcomes: 7"),
              port.calls.indexOf(QRegularExpression("prompt: .*")))
        << "the manager knows the failures before the error-log offer";

    // A run that fetches nothing reports nothing: the last outcomes stay valid.
    RefreshCycle offline(store, fetcher, port, offlineProbe());
    EXPECT_EQ(offline.refreshFeeds(), CycleEnd::Offline);
    EXPECT_EQ(port.outcomeRuns.size(), 1u);
}

TEST_F(RefreshCycleTest, AtomRendersAndADocumentWithoutFeedIsShownEmptyAndLogged) {
    server.setRoute("/atom", served("<feed xmlns='http://www.w3.org/2005/Atom'><title>Blog</title>"
                                    "<entry><title>Post</title><link href='/p/1'/></entry></feed>"));
    server.setRoute("/page", served("<html><body><p>a web page</p></body></html>"));
    writeStore(feedEntry("/atom") + feedEntry("/page"));
    port.answers.push_back(MessageAnswer::Cancel);
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);

    const QString text = page();
    EXPECT_TRUE(text.contains("<a href='" + server.url("/p/1") + "' target='_blank'>Post</a>"))
        << "the entry's link resolves against where the feed came from";
    EXPECT_TRUE(text.contains("<a name='No Title'></a><span class='heading'>No Title</span><br />"
                              "<span class='bDate'>No Date</span><br /><br /><hr>"));
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 2) << log.join("|").toStdString();
    EXPECT_TRUE(log[1].endsWith(" " + server.url("/page")));
}

TEST_F(RefreshCycleTest, OfflineOrAnEmptyProbeAnswerFetchesAndWritesNothing) {
    server.setRoute("/a", served(rssFeed("Alpha", 1)));
    writeStore(feedEntry("/a"));
    ASSERT_TRUE(writeFile(store.pagePath(), "previous page"));
    RefreshCycle cycle(store, fetcher, port, offlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::Offline);
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
    EXPECT_EQ(page(), noFeedsPage(buildStyleBlock(cycle.settings())));
    EXPECT_FALSE(port.callsOf("title").contains("Quorvel RSS Reader Loading..."));
    EXPECT_TRUE(cycle.settings().startMinimised);
}

TEST_F(RefreshCycleTest, UnreadableEntryValuesTakeDefaultsAndNeverStopTheCycle) {
    server.setRoute("/a", served(rssFeed("Alpha", 12)));
    writeStore(QStringLiteral("<feed url='%1' num='lots' headers='maybe' disabled='perhaps'/>"
                              "<feed num='3'/>")
                   .arg(server.url("/a")));
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);
    EXPECT_EQ(page().count("target='_blank'"), 10) << "num falls back to 10";
    EXPECT_TRUE(page().contains("<p>text 1</p>")) << "headers falls back to false";
    EXPECT_EQ(logLines().size(), 2) << "the entry without url is logged as a bad feed";
}

TEST_F(RefreshCycleTest, PageThatCannotBeWrittenIsToldAndTheRunEnds) {
    server.setRoute("/a", served(rssFeed("Alpha", 1)));
    writeStore(feedEntry("/a"));
    ASSERT_TRUE(QDir().mkpath(store.pagePath())); // a folder where the page should go
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageNotWritten);
    ASSERT_EQ(port.prompts.size(), 1u);
    EXPECT_EQ(port.prompts[0].title, "Error");
    EXPECT_TRUE(port.prompts[0].text.contains("could not be written"));
}

TEST_F(RefreshCycleTest, CancelledCycleWritesNoPage) {
    server.setRoute("/slow", served(rssFeed("Slow", 1), 3000));
    writeStore(feedEntry("/slow"));
    RefreshCycle cycle(store, fetcher, port, onlineProbe());
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cycle.cancel();
    });
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::Cancelled);
    canceller.join();
    EXPECT_FALSE(QFile::exists(store.pagePath() + ".tmp"));
    EXPECT_EQ(page(), noOfflinePage(buildStyleBlock(cycle.settings())))
        << "only the placeholder page";
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
