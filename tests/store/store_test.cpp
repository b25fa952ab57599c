#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "platform/xmldocument.h"
#include "recordingport.h"
#include "store/displaysettings.h"
#include "store/feedlistoperations.h"
#include "store/feedstore.h"
#include "store/opml.h"
#include "store/settingsdefaults.h"
#include "store/settingwriters.h"
#include "store/storeaccess.h"
#include "store/storelock.h"
#include "store/viewsetting.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::readFile;
using test::writeFile;

class FeedListOperations : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FeedStore store{dir.path()};
    QStringList rows; // the list as a window would show it, kept by apply()
    test::RecordingPort prompter;

    QByteArray fileBytes() const { return readFile(store.storePath()); }
    QString rootAttribute(const char* name) const {
        return store.load().documentElement().getAttribute(name).value_or("<missing>");
    }

    // A store of these entries, with the list filled from it.
    void fill(const QByteArray& entries, const QByteArray& root = "<root>") {
        ASSERT_TRUE(writeFile(store.storePath(), root + entries + "</root>"));
        rows = feedListRows(store.load());
    }

    // Applies a change's delta (or its refill) to the rows; returns whether it succeeded.
    bool apply(const FeedListChange& change) {
        if (change.refill)
            rows = *change.refill;
        for (int row : change.removed)
            rows.removeAt(row);
        for (const auto& [row, text] : change.rewritten)
            rows[row] = text;
        rows << change.appended;
        return change.ok;
    }

    QStringList storedFeeds() const { return test::storedFeeds(store); }

    // The URLs of the rows and of the store, which must always agree.
    QStringList rowUrls() const {
        QStringList urls, stored;
        for (const QString& row : rows)
            urls << row.section(" | ", 0, 0);
        for (const QString& feed : storedFeeds())
            stored << feed.section(' ', 0, 0);
        EXPECT_EQ(stored, urls);
        return urls;
    }
};
using StoreFiles = FeedListOperations;

TEST(FeedListInput, UrlSchemeArticleCountAndRowsReadBack) {
    EXPECT_EQ(withUrlScheme("  example.com/rss "), "http://example.com/rss");
    EXPECT_EQ(withUrlScheme("https://example.com/rss"), "https://example.com/rss");
    EXPECT_EQ(withUrlScheme("HTTP://example.com/rss"), "HTTP://example.com/rss");
    EXPECT_EQ(withUrlScheme("example.com/?u=http://x"), "http://example.com/?u=http://x");
    for (const auto& [text, count] : {std::pair{" 010 ", 10}, {"0", 0}, {"32767", 32767}})
        EXPECT_EQ(readArticleCount(text), count) << text;
    for (const char* bad : {"", "-1", "32768", "ten", "2.5"})
        EXPECT_FALSE(readArticleCount(bad)) << bad;
    for (const bool headings : {false, true})
        for (const bool disabled : {false, true}) {
            const FeedEntry entry{"http://127.0.0.20/?a=1", "5", headings, disabled};
            const std::optional<FeedEntry> back = parseFeedListRow(feedListRow(entry));
            ASSERT_TRUE(back);
            EXPECT_EQ(back->url, entry.url);
            EXPECT_EQ(back->countText, "5");
            EXPECT_EQ(back->headingsOnly, headings);
            EXPECT_EQ(back->disabled, disabled);
        }
    EXPECT_EQ(feedListRow({"http://127.0.0.20/", "5", true, true}), "http://127.0.0.20/ | 5 | H | D");
}

TEST_F(FeedListOperations, AddAndEditKeepRowsAndEntriesInStep) {
    fill("<feed url='http://127.0.0.11/' num='10'/><feed url='http://127.0.0.12/'/>");
    ASSERT_TRUE(apply(addFeed(store, rows.size(), {"http://127.0.0.16/", "010", true, false})));
    EXPECT_EQ(rows.last(), "http://127.0.0.16/ | 010 | H");

    ASSERT_TRUE(
        apply(editFeeds(store, rows.size(), {1}, {"http://127.0.0.19/feed", " 05", false, true})));
    EXPECT_EQ(rows.at(1), "http://127.0.0.19/feed | 05 | D");
    EXPECT_EQ(storedFeeds(), QStringList({"http://127.0.0.11/ 10 - -", "http://127.0.0.19/feed 5 false true",
                                          "http://127.0.0.16/ 10 true false"}));
    // Several rows: the address field holds the current row's address (or nothing); it must
    // not spread.
    const FeedListChange change = editFeeds(store, rows.size(), {0, 2}, {"", "7", false, true});
    ASSERT_TRUE(apply(change)) << change.error.toStdString();
    EXPECT_EQ(storedFeeds(), QStringList({"http://127.0.0.11/ 7 false true", "http://127.0.0.19/feed 5 false true",
                                          "http://127.0.0.16/ 7 false true"}));
    EXPECT_EQ(rows, QStringList({"http://127.0.0.11/ | 7 | D", "http://127.0.0.19/feed | 05 | D",
                                 "http://127.0.0.16/ | 7 | D"}));
}

TEST_F(FeedListOperations, DeleteAndMovesCountFeedEntriesOnly) {
    fill("<!-- mine --><feed url='http://127.0.0.11/'/><note/><feed url='http://127.0.0.12/'/>"
         "<feed url='http://127.0.0.13/'/><feed url='http://127.0.0.14/'/><feed url='http://127.0.0.15/'/>");
    ASSERT_TRUE(apply(deleteFeeds(store, rows.size(), {3, 1})));
    EXPECT_EQ(rowUrls(), QStringList({"http://127.0.0.11/", "http://127.0.0.13/", "http://127.0.0.15/"}));
    FeedListChange up = moveFeed(store, rows.size(), 2, -1);
    ASSERT_TRUE(apply(up));
    EXPECT_EQ(up.current, 1);
    EXPECT_EQ(rowUrls(), QStringList({"http://127.0.0.11/", "http://127.0.0.15/", "http://127.0.0.13/"}));
    FeedListChange down = moveFeed(store, rows.size(), 0, +1);
    ASSERT_TRUE(apply(down));
    EXPECT_EQ(down.current, 1);
    EXPECT_EQ(rowUrls(), QStringList({"http://127.0.0.15/", "http://127.0.0.11/", "http://127.0.0.13/"}));
    EXPECT_TRUE(fileBytes().contains("<!-- mine -->"));

    // Out of bounds: a load of this file would fail loudly, so silence proves none was read.
    ASSERT_TRUE(writeFile(store.storePath(), "not xml"));
    for (const auto& [row, step] : {std::pair{-1, -1}, {-1, 1}, {0, -1}, {2, 1}}) {
        const FeedListChange moved = moveFeed(store, rows.size(), row, step);
        EXPECT_FALSE(moved.ok) << row;
        EXPECT_TRUE(moved.error.isEmpty()) << row;
    }
    EXPECT_EQ(fileBytes(), "not xml");
}

TEST_F(FeedListOperations, RefusedOrFailedChangesSayWhyAndChangeNothing) {
    fill("<feed url='http://127.0.0.11/'/><feed url='http://127.0.0.12/'/><feed url='http://127.0.0.13/'/>");
    const QByteArray before = fileBytes();
    const QStringList shown = rows;
    EXPECT_EQ(editFeeds(store, 3, {1}, {"http://127.0.0.20/", "32768"}).error, articleCountProblem());
    {
        StoreLock otherWriter(store.storePath(), 0);
        ASSERT_TRUE(otherWriter.isLocked());
        const FeedListChange busy = editFeeds(store, 3, {1}, {"http://127.0.0.20/", "10"}, 50);
        EXPECT_FALSE(apply(busy));
        EXPECT_TRUE(busy.error.contains(QDir::toNativeSeparators(store.storePath())));
    }
    EXPECT_EQ(rows, shown);

    rows.removeLast(); // as if the file changed behind the list's back
    const FeedListChange stale = moveFeed(store, rows.size(), 1, -1);
    EXPECT_FALSE(apply(stale));
    EXPECT_TRUE(stale.error.contains("changed outside"));
    EXPECT_EQ(rowUrls().size(), 3);

    // A folder where the lock file belongs makes every save fail at once.
    QFile::remove(StoreLock::lockPathFor(store.storePath()));
    ASSERT_TRUE(QDir().mkpath(StoreLock::lockPathFor(store.storePath())));
    rows[0] = "stale | 1"; // a failed change refills the list from the file
    const FeedListChange unsaved = deleteFeeds(store, rows.size(), {0});
    EXPECT_FALSE(apply(unsaved));
    EXPECT_TRUE(unsaved.error.contains("could not be saved"));
    EXPECT_EQ(rowUrls().size(), 3);
    EXPECT_EQ(fileBytes(), before);
    ASSERT_TRUE(QDir().rmdir(StoreLock::lockPathFor(store.storePath())));

    ASSERT_TRUE(writeFile(store.storePath(), "<root><feed"));
    const FeedListChange unreadable = addFeed(store, rows.size(), {"http://127.0.0.16/", "10"});
    EXPECT_FALSE(apply(unreadable));
    EXPECT_TRUE(unreadable.error.contains(QDir::toNativeSeparators(store.storePath())));
    EXPECT_EQ(rows.size(), 3);
    EXPECT_EQ(fileBytes(), "<root><feed");
}

TEST_F(FeedListOperations, AddAndEditRefuseAddressesOtherThanTheWeb) {
    fill("<feed url='http://127.0.0.1:1/a'/>");
    const QByteArray before = fileBytes();
    for (const char* typed : {"htp://x", "file:///etc/passwd", "/dev/ptmx"}) {
        const FeedEntry entry{withUrlScheme(typed), "10"};
        EXPECT_TRUE(addFeed(store, 1, entry).error.contains("not a web address")) << typed;
        EXPECT_TRUE(editFeeds(store, 1, {0}, entry).error.contains("not a web address")) << typed;
    }
    EXPECT_EQ(fileBytes(), before);
    ASSERT_TRUE(apply(editFeeds(store, 1, {0}, {withUrlScheme("127.0.0.1:1/typed"), "10"})));
    EXPECT_EQ(rowUrls(), QStringList({"http://127.0.0.1:1/typed"}));
}

TEST_F(FeedListOperations, OpmlImportAppendsFeedOutlinesAtAnyDepthAndBadFilesChangeNothing) {
    const QString data = QStringLiteral(QUORVEL_TEST_DATA "/opml/");
    fill("<feed url='http://127.0.0.17/' num='10' headers='false' disabled='false'/>",
         "<root refresh='60000'>");
    const OpmlImportResult result = importOpml(store, data + "nested.opml");
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.added, 3);
    EXPECT_EQ(storedFeeds(),
              QStringList({"http://127.0.0.17/ 10 false false", "http://127.0.0.2/feed.xml 1 True False",
                           "https://127.0.0.3/rss 1 True False",
                           "http://127.0.0.4/atom.xml 1 True False"}));
    rows << result.rows;
    EXPECT_EQ(rows.last(), "http://127.0.0.4/atom.xml | 1 | H");
    rowUrls();
    EXPECT_EQ(rootAttribute("refresh"), "7200000");

    const QByteArray before = fileBytes();
    for (const QString name : {"not-xml.opml", "missing.opml"}) {
        const OpmlImportResult failed = importOpml(store, data + name);
        EXPECT_FALSE(failed.ok);
        EXPECT_TRUE(failed.error.contains(name)) << failed.error.toStdString();
    }
    EXPECT_EQ(fileBytes(), before);
    fill("", "<root refresh='60000'>");
    const OpmlImportResult none = importOpml(store, data + "no-opml-root.opml");
    EXPECT_TRUE(none.ok && none.added == 0 && none.rows.isEmpty());
    EXPECT_EQ(rootAttribute("refresh"), "7200000") << "even without feeds";
}

TEST_F(FeedListOperations, OpmlImportAddsEachWebAddressOnceAndCountsTheRest) {
    const QString data = QStringLiteral(QUORVEL_TEST_DATA "/opml/");
    // The store already holds one of the file's three addresses, its scheme in capitals.
    fill("<feed url='HTTP://127.0.0.2/feed.xml'/>");
    const OpmlImportResult first = importOpml(store, data + "nested.opml");
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.added, 2);
    EXPECT_EQ(first.alreadyListed, 1);
    EXPECT_EQ(first.rows,
              QStringList({"https://127.0.0.3/rss | 1 | H", "http://127.0.0.4/atom.xml | 1 | H"}));
    const OpmlImportResult second = importOpml(store, data + "nested.opml");
    EXPECT_EQ(second.added, 0);
    EXPECT_EQ(second.alreadyListed, 3);
    EXPECT_EQ(storedFeeds().size(), 3);
    EXPECT_EQ(opmlImportSummary(second),
              "Imported 0 feeds; 3 were already in the list; 0 were not web addresses");

    const OpmlImportResult mixed = importOpml(store, data + "mixed-schemes.opml");
    ASSERT_TRUE(mixed.ok) << mixed.error.toStdString();
    EXPECT_EQ(test::storedFeeds(store, {"url"}).mid(3),
              QStringList({"http://127.0.0.1:1/plain", "HTTPS://127.0.0.1:1/secure"}));
    EXPECT_EQ(opmlImportSummary(mixed, "/d/rss_feeds.xml"),
              "Imported 2 feeds into /d/rss_feeds.xml; 0 were already in the list; 3 were not web "
              "addresses");
}

TEST_F(FeedListOperations, OpmlExportSkipsDisabledFeedsTakesEachFormatsTitleInOrderAndReadsBack) {
    test::LoopbackServer server;
    const QByteArray title = "<title>Slow &amp; Steady \"News\"</title>";
    server.setRoute("/slow", test::served("<rss><channel>" + title + "</channel></rss>", 300));
    server.setRoute("/quick", test::served("<rss><channel></channel></rss>"));
    server.setRoute("/atom", test::served("<feed xmlns='http://www.w3.org/2005/Atom'><title "
                                          "type='text'>Atom &amp; Co</title></feed>"));
    server.setRoute("/json", test::served(R"({"version": "https://jsonfeed.org/version/1.1",
                                              "title": "Jay", "items": []})"));
    server.setRoute("/page", test::served("<html><body>no feed</body></html>"));
    const QString feed("<feed url='%1' disabled='%2'/>");
    QString entries = feed.arg(server.url("/slow"), "false") + feed.arg("http://127.0.0.18/", "true");
    for (const char* path : {"/quick", "/gone", "/atom", "/json", "/page"})
        entries += feed.arg(server.url(path), path == QLatin1String("/gone") ? "0" : "False");
    fill(entries.toUtf8());
    CurlFetcher fetcher;
    const QString target = dir.path() + "/export.opml";
    QString error;
    ASSERT_TRUE(exportOpml(store, fetcher, target, &error)) << error.toStdString();
    const XmlDocument exported = XmlDocument::fromFile(target, &error);
    ASSERT_FALSE(exported.isNull()) << error.toStdString();
    const auto outlines = exported.selectNodes("//outline");
    QStringList texts;
    for (const XmlNode& outline : outlines)
        texts << outline.getAttribute("text").value_or("-");
    EXPECT_EQ(texts, QStringList({"Slow & Steady \"News\"", "No Title", "url not found",
                                  "Atom & Co", "Jay", ""}));
    ASSERT_FALSE(outlines.empty());
    EXPECT_EQ(outlines[0].getAttribute("title"), "Slow & Steady \"News\"");
    EXPECT_EQ(outlines[0].getAttribute("xmlUrl"), server.url("/slow"));
    fill("");
    EXPECT_EQ(importOpml(store, target).added, 6);
}

TEST_F(FeedListOperations, OpmlExportTakesKeptTitlesWithoutAskingAndFetchesTheRest) {
    test::LoopbackServer server;
    server.setRoute("/kept", {.status = 500, .body = "down"});
    server.setRoute("/fetched", test::served("<rss><channel><title>Fetched</title></channel></rss>"));
    server.setRoute("/damaged", test::served("<rss><channel><title>Fresh</title></channel></rss>"));
    const QString feed("<feed url='%1' disabled='false'/>");
    fill((feed.arg(server.url("/damaged")) + feed.arg(server.url("/kept")) +
          feed.arg(server.url("/fetched")))
             .toUtf8());
    // A kept answer that does not read as a feed is no use: its title is fetched.
    const QMap<QString, QByteArray> bodies{
        {server.url("/kept"), "<rss><channel><title>Kept &amp; sound</title></channel></rss>"},
        {server.url("/damaged"), "<rss><channel><title>Cut"}};
    const KeptAnswer kept = [&](const QString& url) -> std::optional<FetchResult> {
        if (!bodies.contains(url))
            return std::nullopt;
        return FetchResult{.ok = true, .body = bodies[url]};
    };
    CurlFetcher fetcher;
    QString text, error;
    QList<int> progress;
    ASSERT_TRUE(buildOpmlExport(
        store, fetcher, &text, &error, [&](int done, int) { progress << done; }, kept));
    QStringList titles;
    for (const QString& line : text.split("\r\n"))
        if (line.startsWith("<outline"))
            titles << line.section('"', 1, 1);
    EXPECT_EQ(titles, (QStringList{"Fresh", "Kept &amp; sound", "Fetched"}));
    EXPECT_EQ(progress, (QList<int>{1, 2, 3}));
    EXPECT_EQ(server.requestCount("/kept"), 0);
    EXPECT_EQ(server.requestCount("/damaged") + server.requestCount("/fetched"), 2);
}

TEST(StoreTexts, BooleansAndVersionsReadAsWritten) {
    // 1 true, 0 false, -1 not a boolean.
    const std::pair<const char*, int> booleans[] = {
        {"True", 1}, {"tRUE", 1}, {"1", 1},    {"-2", 1},  {"FALSE", 0},
        {"0", 0},    {"", -1},    {"yes", -1}, {"on", -1}, {"t", -1}};
    for (const auto& [text, want] : booleans) {
        bool ok = false;
        const bool value = readBooleanText(text, &ok);
        EXPECT_EQ(ok ? int(value) : -1, want) << text;
    }
    for (const char* older : {"1_5_0_0", "1_5_9_9", "one", ""})
        EXPECT_TRUE(isOlderStoreVersion(older)) << older;
    for (const char* current : {"1_6_0_0", "2_0_0_0"})
        EXPECT_FALSE(isOlderStoreVersion(current)) << current;
}

TEST_F(StoreFiles, DefaultsAndSettingWritersKeepWhatIsThere) {
    fill("<feed url='a' num='0' headers=''/><feed url='b'/>", "<root magnetic='true'>");
    ASSERT_TRUE(applySettingsDefaults(store));
    EXPECT_EQ(rootAttribute("magnetic"), "true");
    const QStringList feeds{"a 0  false", "b 10 false false"};
    EXPECT_EQ(storedFeeds(), feeds);
    EXPECT_TRUE(storeRefreshSetting(store, 7200000));
    EXPECT_EQ(rootAttribute("magnetic"), "true");
    EXPECT_TRUE(storeMagneticSetting(store, false));
    EXPECT_EQ(rootAttribute("refresh"), "7200000");
    EXPECT_EQ(rootAttribute("magnetic"), "false");
    EXPECT_EQ(storedFeeds(), feeds);
}

// Atomic replacement on a failed write is checked once, under XmlDocument::save.
TEST_F(StoreFiles, UnreadableOrUnreachableStoreIsReportedAndNeverOverwritten) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root><feed></root>"));
    QString error;
    EXPECT_TRUE(store.load(&error).isNull());
    EXPECT_TRUE(error.contains("rss_feeds.xml")) << error.toStdString();
    error.clear();
    EXPECT_FALSE(applySettingsDefaults(store, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(storeRefreshSetting(store, 120000));
    EXPECT_EQ(readFile(store.storePath()), "<root><feed></root>");

    error.clear();
    const FeedStore unreachable(dir.path() + "/no/such/folder");
    EXPECT_FALSE(unreachable.save(XmlDocument::withRoot("root"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(StoreFiles, DisplaySettingsReadAsShownAndABadIntervalOrAnUnreadableStoreSaveNothing) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root refresh='90000' trans='' min='TRUE'/>"));
    QStringList problems;
    DisplaySettings s = readDisplaySettings(store.load(), &problems);
    EXPECT_EQ(s.trans, "255");
    EXPECT_EQ(s.refreshMinutes, "1.5");
    EXPECT_TRUE(s.startMinimised);
    EXPECT_EQ(problems.size(), 6); // each missing style value is named
    ASSERT_TRUE(saveDisplaySettings(store, s));
    EXPECT_EQ(rootAttribute("refresh"), "90000");

    s.refreshMinutes = "soon";
    s.heading.font = "changed";
    QString error;
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(rootAttribute("heading").contains("changed"));
    ASSERT_TRUE(writeFile(store.storePath(), "<root"));
    s.refreshMinutes = "2";
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_TRUE(error.contains("rss_feeds.xml")) << error.toStdString();
    EXPECT_EQ(readFile(store.storePath()), "<root");
    EXPECT_EQ(refreshMillisecondsFromMinutes(" 120 "), 7200000);
    for (const char* bad : {"", "0", "-1", "soon", "1,5", "100000"})
        EXPECT_FALSE(refreshMillisecondsFromMinutes(bad)) << bad;
}

TEST_F(StoreFiles, ViewSettingOfOldStoresIsTheDefaultAndIsOneAttributeOfTheRoot) {
    EXPECT_EQ(readViewSetting(store), defaultPageViewKind) << "no store yet";
    const QByteArray old = "<root magnetic='false' refresh='60000'><feed url='http://127.0.0.1/a'/></root>";
    ASSERT_TRUE(writeFile(store.storePath(), old));
    EXPECT_EQ(readViewSetting(store), defaultPageViewKind) << "a store without the attribute";

    ASSERT_TRUE(storeViewSetting(store, PageViewKind::Web));
    EXPECT_EQ(readViewSetting(store), PageViewKind::Web);
    const QString saved = QString::fromUtf8(readFile(store.storePath()));
    EXPECT_TRUE(saved.contains("view=\"web\"")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("refresh=\"60000\"") && saved.contains("http://127.0.0.1/a"));
    ASSERT_TRUE(storeViewSetting(store, PageViewKind::Light));
    EXPECT_EQ(readViewSetting(store), PageViewKind::Light);

    ASSERT_TRUE(writeFile(store.storePath(), "<root view=' WEB '/>"));
    EXPECT_EQ(readViewSetting(store), PageViewKind::Web);
    ASSERT_TRUE(writeFile(store.storePath(), "<root view='browser'/>"));
    EXPECT_EQ(readViewSetting(store), defaultPageViewKind);
    bool ok = true;
    pageViewKindFromText("browser", &ok);
    EXPECT_FALSE(ok);
}

} // namespace
} // namespace quorvel
