#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/xmldocument.h"
#include "recordingport.h"
#include "store/feedlistoperations.h"
#include "store/feedlistview.h"
#include "store/feedstore.h"
#include "store/storelock.h"

namespace quorvel {
namespace {

// A list view kept in plain members, so tests can set the fields and read the rows.
class FakeFeedListView : public FeedListView {
public:
    QStringList rows;
    int current = -1;
    QSet<int> selected;
    QString newFeed;
    QString numArticles = QStringLiteral("10");
    bool headings = false;
    bool disabled = false;

    int rowCount() const override { return rows.size(); }
    int currentRow() const override { return current; }
    bool isRowSelected(int row) const override { return selected.contains(row); }
    QString rowText(int row) const override { return rows.at(row); }
    void setRowText(int row, const QString& text) override { rows[row] = text; }
    void appendRow(const QString& text) override { rows << text; }
    void insertRow(int row, const QString& text) override { rows.insert(row, text); }
    void removeRow(int row) override { rows.removeAt(row); }
    void setCurrentRow(int row) override { current = row; }
    void clearRows() override {
        rows.clear();
        current = -1;
        selected.clear();
    }
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

    void writeStore(const QByteArray& text) {
        QFile file(store.storePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    // A store of n feeds a1..an, with the list filled from it.
    void writeFeeds(int n) {
        QByteArray text = "<root refresh='60000'>";
        for (int i = 1; i <= n; ++i)
            text += "<feed url='http://a" + QByteArray::number(i) +
                    "/' num='10' headers='false' disabled='false'/>";
        writeStore(text + "</root>");
        ASSERT_TRUE(reloadFeedList(store, view));
    }

    QByteArray fileBytes() const {
        QFile file(store.storePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

    QStringList storedUrls() const {
        QStringList urls;
        for (const QString& feed : storedFeeds())
            urls << feed.section(' ', 0, 0);
        return urls;
    }

    QStringList rowUrls() const {
        QStringList urls;
        for (const QString& row : view.rows)
            urls << row.section(" | ", 0, 0);
        return urls;
    }
};

TEST(FeedListRows, FormatAndParseTheMarkers) {
    EXPECT_EQ(feedListRow("http://x/", "5", false, false), "http://x/ | 5");
    EXPECT_EQ(feedListRow("http://x/", "5", false, true), "http://x/ | 5 | D");
    EXPECT_EQ(feedListRow("http://x/", "5", true, true), "http://x/ | 5 | H | D");
    // Markers are plain substrings, so a URL holding "| H" reads as headings only.
    const auto fields = parseFeedListRow("http://x/?q=a| H | 5");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->countText, "5");
    EXPECT_TRUE(fields->headingsOnly);
    EXPECT_FALSE(fields->disabled);
    EXPECT_FALSE(parseFeedListRow("no separator here"));
}

TEST(FeedListRows, UrlSchemeIsAddedOnlyWhenMissing) {
    EXPECT_EQ(withUrlScheme("example.com/rss"), "http://example.com/rss");
    EXPECT_EQ(withUrlScheme("https://example.com/rss"), "https://example.com/rss");
    EXPECT_EQ(withUrlScheme("HTTP://example.com/rss"), "HTTP://example.com/rss");
    EXPECT_EQ(withUrlScheme("file:///tmp/feed.xml"), "file:///tmp/feed.xml");
    EXPECT_EQ(withUrlScheme("  example.com  "), "http://example.com");
    // A scheme somewhere inside the text is no scheme of the address itself.
    EXPECT_EQ(withUrlScheme("example.com/?u=http://x"), "http://example.com/?u=http://x");
}

TEST(FeedListRows, ArticleCountIsAWholeNumberFrom0To32767) {
    EXPECT_EQ(readArticleCount("010"), 10);
    EXPECT_EQ(readArticleCount(" 7 "), 7);
    EXPECT_EQ(readArticleCount("0"), 0);
    EXPECT_EQ(readArticleCount("32767"), 32767);
    for (const char* bad : {"", "  ", "-1", "32768", "ten", "2.5", "1e3"})
        EXPECT_FALSE(readArticleCount(bad)) << bad;
}

TEST(FeedListRows, UnreadableValuesAreReportedAndShownAsStored) {
    const XmlDocument document =
        XmlDocument::parse("<root><feed url='http://a/' num='many' headers='maybe' disabled='1'/>"
                           "<feed url='http://b/' headers='TRUE'/></root>");
    QStringList problems;
    EXPECT_EQ(feedListRows(document, &problems),
              QStringList({"http://a/ | many | D", "http://b/ | 10 | H"}));
    EXPECT_EQ(problems.size(), 2) << problems.join('\n').toStdString();
}

TEST_F(FeedListOperations, AddAppendsEntryWithAttributesInOrderAndRowAsTyped) {
    writeFeeds(1);
    view.headings = true;
    view.numArticles = "010";
    ASSERT_TRUE(addFeed(store, view, prompter, "http://new/", 10));

    EXPECT_EQ(view.rows, QStringList({"http://a1/ | 10", "http://new/ | 010 | H"}));
    EXPECT_EQ(storedFeeds().last(), "http://new/ 10 true false");
    EXPECT_TRUE(QRegularExpression(R"(<feed url="http://new/" num="10" headers="true" )"
                                   R"(disabled="false"\s*/>\s*</root>)")
                    .match(QString::fromUtf8(fileBytes()))
                    .hasMatch())
        << fileBytes().toStdString();
    EXPECT_TRUE(prompter.prompts.empty());
}

TEST_F(FeedListOperations, EditRewritesTheCurrentEntryInPlace) {
    writeFeeds(3);
    view.current = 1;
    view.newFeed = "example.com/feed";
    view.numArticles = "05";
    view.disabled = true;
    ASSERT_TRUE(editSelectedFeed(store, view, prompter));

    EXPECT_EQ(view.newFeed, "http://example.com/feed");
    EXPECT_EQ(view.rows.at(1), "http://example.com/feed | 05 | D");
    EXPECT_EQ(storedFeeds(),
              QStringList({"http://a1/ 10 false false", "http://example.com/feed 5 false true",
                           "http://a3/ 10 false false"}));

    view.newFeed = "HTTPS://secure.example/rss";
    ASSERT_TRUE(editSelectedFeed(store, view, prompter));
    EXPECT_EQ(storedUrls().at(1), "HTTPS://secure.example/rss");
}

TEST_F(FeedListOperations, EditRefusesBadInputAndChangesNothing) {
    writeFeeds(2);
    const QByteArray before = fileBytes();
    view.newFeed = "http://x/";
    view.numArticles = "ten";
    view.current = 0;
    EXPECT_FALSE(editSelectedFeed(store, view, prompter));
    view.numArticles = "10";
    view.current = -1;
    EXPECT_FALSE(editSelectedFeed(store, view, prompter));
    ASSERT_EQ(prompter.prompts.size(), 2u);
    EXPECT_EQ(prompter.prompts[0].title, "Error");
    EXPECT_EQ(prompter.prompts[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(view.rows, QStringList({"http://a1/ | 10", "http://a2/ | 10"}));
}

TEST_F(FeedListOperations, EditGivesUpOnABusyStore) {
    writeFeeds(1);
    const QByteArray before = fileBytes();
    StoreLock otherWriter(store.storePath(), 0);
    ASSERT_TRUE(otherWriter.isLocked());
    view.current = 0;
    view.newFeed = "http://x/";
    EXPECT_FALSE(editSelectedFeed(store, view, prompter, 50));
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_TRUE(prompter.prompts[0].text.contains(QDir::toNativeSeparators(store.storePath())));
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(view.rows, QStringList({"http://a1/ | 10"}));
}

TEST_F(FeedListOperations, DeleteRemovesEverySelectedRowAndKeepsTheOrder) {
    writeFeeds(5);
    view.selected = {1, 3};
    ASSERT_TRUE(deleteSelectedFeeds(store, view, prompter));
    EXPECT_EQ(storedUrls(), QStringList({"http://a1/", "http://a3/", "http://a5/"}));
    EXPECT_EQ(rowUrls(), storedUrls());
}

TEST_F(FeedListOperations, MovesSwapNeighboursAtBothEnds) {
    writeFeeds(3);
    view.current = 2;
    ASSERT_TRUE(moveSelectedFeedUp(store, view, prompter));
    EXPECT_EQ(view.current, 1);
    EXPECT_EQ(storedUrls(), QStringList({"http://a1/", "http://a3/", "http://a2/"}));
    EXPECT_EQ(rowUrls(), storedUrls());

    view.current = 0;
    ASSERT_TRUE(moveSelectedFeedDown(store, view, prompter));
    EXPECT_EQ(view.current, 1);
    EXPECT_EQ(storedUrls(), QStringList({"http://a3/", "http://a1/", "http://a2/"}));
    EXPECT_EQ(rowUrls(), storedUrls());
}

TEST_F(FeedListOperations, MovesOutOfBoundsTouchNoFile) {
    writeFeeds(2);
    // Any load of this file would fail loudly, so silence proves it was never read.
    writeStore("not xml");
    for (int current : {-1, 0}) {
        view.current = current;
        EXPECT_FALSE(moveSelectedFeedUp(store, view, prompter));
    }
    for (int current : {-1, 1}) {
        view.current = current;
        EXPECT_FALSE(moveSelectedFeedDown(store, view, prompter));
    }
    EXPECT_TRUE(prompter.prompts.empty());
    EXPECT_EQ(fileBytes(), "not xml");
}

TEST_F(FeedListOperations, EntriesAreCountedAmongFeedElementsOnly) {
    writeStore("<root>\n  <!-- mine -->\n  <feed url='http://a1/' num='1'/>\n  <note/>\n"
               "  <feed url='http://a2/' num='2'/>\n  <feed url='http://a3/' num='3'/>\n</root>");
    ASSERT_TRUE(reloadFeedList(store, view));
    view.current = 2;
    ASSERT_TRUE(moveSelectedFeedUp(store, view, prompter));
    view.selected = {0};
    ASSERT_TRUE(deleteSelectedFeeds(store, view, prompter));
    EXPECT_EQ(storedUrls(), QStringList({"http://a3/", "http://a2/"}));
    EXPECT_EQ(rowUrls(), storedUrls());
    EXPECT_TRUE(fileBytes().contains("<!-- mine -->"));
}

TEST_F(FeedListOperations, UnreadableStoreIsToldAndLeavesTheList) {
    writeFeeds(2);
    writeStore("<root><feed");
    EXPECT_FALSE(addFeed(store, view, prompter, "http://new/", 10));
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].title, "Error");
    EXPECT_TRUE(prompter.prompts[0].text.contains(QDir::toNativeSeparators(store.storePath())));
    EXPECT_EQ(view.rows.size(), 2);
    EXPECT_EQ(fileBytes(), "<root><feed");
}

TEST_F(FeedListOperations, FailedSaveIsToldAndTheListShowsTheFile) {
    writeFeeds(3);
    // A folder where the lock file belongs makes every save fail at once.
    ASSERT_TRUE(QDir().mkpath(StoreLock::lockPathFor(store.storePath())));
    view.selected = {0, 2};
    EXPECT_FALSE(deleteSelectedFeeds(store, view, prompter));
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_TRUE(prompter.prompts[0].text.contains("could not be saved"));
    EXPECT_EQ(storedUrls().size(), 3);
    EXPECT_EQ(rowUrls(), storedUrls());
}

TEST_F(FeedListOperations, ListOutOfStepWithTheFileIsRefilledInsteadOfChanged) {
    writeFeeds(2);
    writeFeeds(0); // the file changed behind the list's back
    view.rows = {"http://a1/ | 10", "http://a2/ | 10"};
    view.current = 1;
    EXPECT_FALSE(moveSelectedFeedUp(store, view, prompter));
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_TRUE(view.rows.isEmpty());
}

} // namespace
} // namespace quorvel
