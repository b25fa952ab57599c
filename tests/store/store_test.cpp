#include <memory>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "platform/xmldocument.h"
#include "recordingport.h"
#include "store/displaysettings.h"
#include "store/feedlistoperations.h"
#include "store/feedlistview.h"
#include "store/feedstore.h"
#include "store/opml.h"
#include "store/settingsdefaults.h"
#include "store/settingwriters.h"
#include "store/storeaccess.h"
#include "store/storelock.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::readFile;
using test::writeFile;

// A list view in plain members: tests set the fields and read the rows.
class FakeFeedListView : public FeedListView {
public:
    QStringList rows;
    int current = -1;
    QSet<int> selected;
    QString newFeed;
    QString numArticles = QStringLiteral("10");
    bool headings = false, disabled = false;

    int rowCount() const override { return rows.size(); }
    int currentRow() const override { return current; }
    bool isRowSelected(int row) const override { return selected.contains(row); }
    QString rowText(int row) const override { return rows.at(row); }
    void setRowText(int row, const QString& text) override { rows[row] = text; }
    void appendRow(const QString& text) override { rows << text; }
    void insertRow(int row, const QString& text) override { rows.insert(row, text); }
    void removeRow(int row) override { rows.removeAt(row); }
    void setCurrentRow(int row) override { current = row; }
    void clearRows() override { rows.clear(), selected.clear(), current = -1; }
    QString newFeedText() const override { return newFeed; }
    void setNewFeedText(const QString& text) override { newFeed = text; }
    QString numArticlesText() const override { return numArticles; }
    bool justHeadings() const override { return headings; }
    bool feedDisabled() const override { return disabled; }
};

class FeedListOperations : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FeedStore store{dir.path()};
    FakeFeedListView view;
    test::RecordingPort prompter;

    QByteArray fileBytes() const { return readFile(store.storePath()); }
    QString rootAttribute(const char* name) const {
        return store.load().documentElement().getAttribute(name).value_or("<missing>");
    }

    // A store of these entries, with the list filled from it.
    void fill(const QByteArray& entries, const QByteArray& root = "<root>") {
        ASSERT_TRUE(writeFile(store.storePath(), root + entries + "</root>"));
        ASSERT_TRUE(reloadFeedList(store, view));
    }

    // "url num headers disabled" of every feed entry, in document order.
    QStringList storedFeeds() const {
        QStringList out;
        const XmlDocument document = store.load();
        for (const XmlNode& feed : document.documentElement().childElements("feed")) {
            QStringList fields;
            for (const char* name : {"url", "num", "headers", "disabled"})
                fields << feed.getAttribute(name).value_or("-");
            out << fields.join(' ');
        }
        return out;
    }

    // The URLs of the rows and of the store, which must always agree.
    QStringList rowUrls() const {
        QStringList urls, stored;
        for (const QString& row : view.rows)
            urls << row.section(" | ", 0, 0);
        for (const QString& feed : storedFeeds())
            stored << feed.section(' ', 0, 0);
        EXPECT_EQ(stored, urls);
        return urls;
    }

    void expectOneError(const QString& part) {
        ASSERT_EQ(prompter.prompts.size(), 1u);
        EXPECT_EQ(prompter.prompts[0].title, "Error");
        EXPECT_EQ(prompter.prompts[0].icon, MessageIcon::Exclamation);
        EXPECT_TRUE(prompter.prompts[0].text.contains(part)) << part.toStdString();
        prompter.prompts.clear();
    }
};
using StoreFiles = FeedListOperations;

TEST(FeedListInput, UrlSchemeAndArticleCount) {
    EXPECT_EQ(withUrlScheme("  example.com/rss "), "http://example.com/rss");
    EXPECT_EQ(withUrlScheme("https://example.com/rss"), "https://example.com/rss");
    EXPECT_EQ(withUrlScheme("HTTP://example.com/rss"), "HTTP://example.com/rss");
    EXPECT_EQ(withUrlScheme("example.com/?u=http://x"), "http://example.com/?u=http://x");
    for (const auto& [text, count] : {std::pair{" 010 ", 10}, {"0", 0}, {"32767", 32767}})
        EXPECT_EQ(readArticleCount(text), count) << text;
    for (const char* bad : {"", "-1", "32768", "ten", "2.5"})
        EXPECT_FALSE(readArticleCount(bad)) << bad;
}

TEST_F(FeedListOperations, AddAndEditKeepRowsAndEntriesInStep) {
    fill("<feed url='http://a1/' num='10'/><feed url='http://a2/'/>");
    view.headings = true;
    view.numArticles = "010";
    ASSERT_TRUE(addFeed(store, view, prompter, "http://new/", 10));
    EXPECT_EQ(view.rows.last(), "http://new/ | 010 | H");

    view.current = 1;
    view.newFeed = "example.com/feed";
    view.numArticles = "05";
    view.headings = false;
    view.disabled = true;
    ASSERT_TRUE(editSelectedFeed(store, view, prompter));
    EXPECT_EQ(view.newFeed, "http://example.com/feed");
    EXPECT_EQ(view.rows.at(1), "http://example.com/feed | 05 | D");
    EXPECT_EQ(storedFeeds(),
              QStringList({"http://a1/ 10 - -", "http://example.com/feed 5 false true",
                           "http://new/ 10 true false"}));
    rowUrls();
    EXPECT_TRUE(prompter.prompts.empty());
}

TEST_F(FeedListOperations, DeleteAndMovesCountFeedEntriesOnly) {
    fill("<!-- mine --><feed url='http://a1/'/><note/><feed url='http://a2/'/>"
         "<feed url='http://a3/'/><feed url='http://a4/'/><feed url='http://a5/'/>");
    view.selected = {1, 3};
    ASSERT_TRUE(deleteSelectedFeeds(store, view, prompter));
    EXPECT_EQ(rowUrls(), QStringList({"http://a1/", "http://a3/", "http://a5/"}));
    view.current = 2;
    ASSERT_TRUE(moveSelectedFeedUp(store, view, prompter));
    EXPECT_EQ(view.current, 1);
    EXPECT_EQ(rowUrls(), QStringList({"http://a1/", "http://a5/", "http://a3/"}));
    view.current = 0;
    ASSERT_TRUE(moveSelectedFeedDown(store, view, prompter));
    EXPECT_EQ(view.current, 1);
    EXPECT_EQ(rowUrls(), QStringList({"http://a5/", "http://a1/", "http://a3/"}));
    EXPECT_TRUE(fileBytes().contains("<!-- mine -->"));

    // Out of bounds: a load of this file would fail loudly, so silence proves none was read.
    ASSERT_TRUE(writeFile(store.storePath(), "not xml"));
    for (const auto& [row, up] : {std::pair{-1, true}, {-1, false}, {0, true}, {2, false}}) {
        view.current = row;
        const bool moved = up ? moveSelectedFeedUp(store, view, prompter)
                              : moveSelectedFeedDown(store, view, prompter);
        EXPECT_FALSE(moved) << row;
    }
    EXPECT_TRUE(prompter.prompts.empty());
    EXPECT_EQ(fileBytes(), "not xml");
}

TEST_F(FeedListOperations, RefusedOrFailedChangesAreToldAndChangeNothing) {
    fill("<feed url='http://a1/'/><feed url='http://a2/'/><feed url='http://a3/'/>");
    const QByteArray before = fileBytes();
    const QStringList rows = view.rows;
    view.current = 1;
    view.newFeed = "http://x/";
    view.numArticles = "32768";
    EXPECT_FALSE(editSelectedFeed(store, view, prompter));
    expectOneError("whole number");
    view.numArticles = "10";
    {
        StoreLock otherWriter(store.storePath(), 0);
        ASSERT_TRUE(otherWriter.isLocked());
        EXPECT_FALSE(editSelectedFeed(store, view, prompter, 50));
        expectOneError(QDir::toNativeSeparators(store.storePath()));
    }
    EXPECT_EQ(view.rows, rows);

    view.rows.removeLast(); // as if the file changed behind the list's back
    view.current = 1;
    EXPECT_FALSE(moveSelectedFeedUp(store, view, prompter));
    expectOneError("changed outside");
    EXPECT_EQ(rowUrls().size(), 3);

    // A folder where the lock file belongs makes every save fail at once.
    QFile::remove(StoreLock::lockPathFor(store.storePath()));
    ASSERT_TRUE(QDir().mkpath(StoreLock::lockPathFor(store.storePath())));
    view.rows[0] = "stale | 1"; // a failed change refills the list from the file
    view.selected = {0};
    EXPECT_FALSE(deleteSelectedFeeds(store, view, prompter));
    expectOneError("could not be saved");
    EXPECT_EQ(rowUrls().size(), 3);
    EXPECT_EQ(fileBytes(), before);
    ASSERT_TRUE(QDir().rmdir(StoreLock::lockPathFor(store.storePath())));

    ASSERT_TRUE(writeFile(store.storePath(), "<root><feed"));
    EXPECT_FALSE(addFeed(store, view, prompter, "http://new/", 10));
    expectOneError(QDir::toNativeSeparators(store.storePath()));
    EXPECT_EQ(view.rows.size(), 3);
    EXPECT_EQ(fileBytes(), "<root><feed");
}

TEST_F(FeedListOperations, AddAndEditRefuseAddressesOtherThanTheWebWithAMessage) {
    fill("<feed url='http://127.0.0.1:1/a'/>");
    const QByteArray before = fileBytes();
    view.current = 0;
    for (const char* typed : {"htp://x", "file:///etc/passwd", "/dev/ptmx"}) {
        EXPECT_FALSE(addFeed(store, view, prompter, withUrlScheme(typed), 10)) << typed;
        expectOneError("not a web address");
        view.newFeed = typed;
        EXPECT_FALSE(editSelectedFeed(store, view, prompter)) << typed;
        expectOneError("not a web address");
    }
    EXPECT_EQ(fileBytes(), before);
    view.newFeed = "127.0.0.1:1/typed";
    EXPECT_TRUE(editSelectedFeed(store, view, prompter)) << "no scheme still gets http://";
    EXPECT_EQ(rowUrls(), QStringList({"http://127.0.0.1:1/typed"}));
}

TEST_F(FeedListOperations, OpmlImportAppendsFeedOutlinesAtAnyDepthAndBadFilesChangeNothing) {
    const QString data = QStringLiteral(QUORVEL_TEST_DATA "/opml/");
    fill("<feed url='http://old/' num='10' headers='false' disabled='false'/>",
         "<root refresh='60000'>");
    const OpmlImportResult result = importOpml(store, data + "nested.opml", &view);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.added, 3);
    EXPECT_EQ(storedFeeds(),
              QStringList({"http://old/ 10 false false", "http://a.example/feed.xml 1 True False",
                           "https://b.example/rss 1 True False",
                           "http://c.example/atom.xml 1 True False"}));
    EXPECT_EQ(view.rows.last(), "http://c.example/atom.xml | 1 | H");
    rowUrls();
    EXPECT_EQ(rootAttribute("refresh"), "7200000");

    const QByteArray before = fileBytes();
    for (const QString name : {"not-xml.opml", "missing.opml"}) {
        const OpmlImportResult failed = importOpml(store, data + name, &view);
        EXPECT_FALSE(failed.ok);
        EXPECT_TRUE(failed.error.contains(name)) << failed.error.toStdString();
    }
    EXPECT_EQ(fileBytes(), before);
    fill("", "<root refresh='60000'>");
    const OpmlImportResult none = importOpml(store, data + "no-opml-root.opml", &view);
    EXPECT_TRUE(none.ok && none.added == 0 && view.rows.isEmpty());
    EXPECT_EQ(rootAttribute("refresh"), "7200000") << "even without feeds";
}

TEST_F(FeedListOperations, OpmlExportSkipsDisabledFeedsLooksUpTitlesInOrderAndReadsBack) {
    test::LoopbackServer server;
    const QByteArray title = "<title>Slow &amp; Steady \"News\"</title>";
    server.setRoute("/slow", test::served("<rss><channel>" + title + "</channel></rss>", 300));
    server.setRoute("/quick", test::served("<rss><channel></channel></rss>"));
    const QString feed("<feed url='%1' disabled='%2'/>");
    fill((feed.arg(server.url("/slow"), "false") + feed.arg("http://off/", "true") +
          feed.arg(server.url("/quick"), "False") + feed.arg(server.url("/gone"), "0"))
             .toUtf8());
    CurlFetcher fetcher;
    const QString target = dir.path() + "/export.opml";
    QString error;
    ASSERT_TRUE(exportOpml(store, fetcher, target, &error)) << error.toStdString();
    const XmlDocument exported = XmlDocument::fromFile(target, &error);
    ASSERT_FALSE(exported.isNull()) << error.toStdString();
    const auto outlines = exported.selectNodes("//outline");
    ASSERT_EQ(outlines.size(), 3u);
    EXPECT_EQ(outlines[0].getAttribute("title"), "Slow & Steady \"News\"");
    EXPECT_EQ(outlines[0].getAttribute("xmlUrl"), server.url("/slow"));
    EXPECT_EQ(outlines[1].getAttribute("text"), "No Title");
    EXPECT_EQ(outlines[2].getAttribute("text"), "url not found");
    fill("");
    EXPECT_EQ(importOpml(store, target, nullptr).added, 3);
}

TEST_F(FeedListOperations, OpmlExportTakesTheTitleOfEveryFeedFormat) {
    test::LoopbackServer server;
    server.setRoute("/atom", test::served("<feed xmlns='http://www.w3.org/2005/Atom'><title "
                                          "type='text'>Atom &amp; Co</title></feed>"));
    server.setRoute("/json", test::served(R"({"version": "https://jsonfeed.org/version/1.1",
                                              "title": "Jay", "items": []})"));
    server.setRoute("/page", test::served("<html><body>no feed</body></html>"));
    const QString feed("<feed url='%1' disabled='false'/>");
    fill((feed.arg(server.url("/atom")) + feed.arg(server.url("/json")) +
          feed.arg(server.url("/page")))
             .toUtf8());
    CurlFetcher fetcher;
    QString text, error;
    ASSERT_TRUE(buildOpmlExport(store, fetcher, &text, &error)) << error.toStdString();
    for (const char* outline : {"text=\"Atom &amp; Co\"", "text=\"Jay\"", "text=\"\""})
        EXPECT_TRUE(text.contains(QLatin1String(outline))) << outline << "\n" << text.toStdString();
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

TEST_F(StoreFiles, DisplaySettingsReadEmptyTransAs255AndKeepFractionalMinutes) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root refresh='90000' trans='' min='TRUE'/>"));
    QStringList problems;
    const DisplaySettings s = readDisplaySettings(store.load(), &problems);
    EXPECT_EQ(s.trans, "255");
    EXPECT_EQ(s.refreshMinutes, "1.5");
    EXPECT_TRUE(s.startMinimised);
    EXPECT_EQ(problems.size(), 6); // each missing style value is named
    ASSERT_TRUE(saveDisplaySettings(store, s));
    EXPECT_EQ(rootAttribute("refresh"), "90000");
}

TEST_F(StoreFiles, DisplaySettingsWithABadIntervalOrAnUnreadableStoreSaveNothing) {
    ASSERT_TRUE(writeFile(store.storePath(), defaultStoreText().toUtf8()));
    ASSERT_TRUE(applySettingsDefaults(store));
    DisplaySettings s = readDisplaySettings(store.load(), nullptr);
    s.refreshMinutes = "soon";
    s.heading.font = "changed";
    QString error;
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(rootAttribute("heading").startsWith("font-family:arial;"));
    ASSERT_TRUE(writeFile(store.storePath(), "<root"));
    s.refreshMinutes = "2";
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_TRUE(error.contains("rss_feeds.xml")) << error.toStdString();
    EXPECT_EQ(readFile(store.storePath()), "<root");
    EXPECT_EQ(refreshMillisecondsFromMinutes(" 120 "), 7200000);
    for (const char* bad : {"", "0", "-1", "soon", "1,5", "100000"})
        EXPECT_FALSE(refreshMillisecondsFromMinutes(bad)) << bad;
}

TEST_F(StoreFiles, LockIsExclusiveBetweenHolders) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root/>"));
    auto held = std::make_unique<StoreLock>(store.storePath(), 0);
    ASSERT_TRUE(held->isLocked());
    EXPECT_TRUE(StoreLock::isHeldElsewhere(store.storePath()));
    EXPECT_FALSE(StoreLock(store.storePath(), 50).isLocked());
    held.reset();
    EXPECT_FALSE(StoreLock::isHeldElsewhere(store.storePath()));
}

TEST(DataFolder, OptionWinsAndIsCreated) {
    QTemporaryDir dir;
    const QString wanted = dir.path() + "/data";
    EXPECT_EQ(resolveDataFolder(wanted, "/nonexistent"), wanted);
    EXPECT_TRUE(QDir(wanted).exists());
    EXPECT_EQ(resolveDataFolder(QString(), dir.path()), dir.path());
}

} // namespace
} // namespace quorvel
