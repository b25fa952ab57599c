#include <QDir>
#include <QFile>
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
#include "testfiles.h"

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

    QByteArray fileBytes() const { return test::readFile(store.storePath()); }

    // A store of these entries, with the list filled from it.
    void fill(const QByteArray& entries) {
        ASSERT_TRUE(test::writeFile(store.storePath(), "<root>" + entries + "</root>"));
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

TEST(FeedListInput, UrlSchemeAndArticleCount) {
    EXPECT_EQ(withUrlScheme("  example.com/rss "), "http://example.com/rss");
    EXPECT_EQ(withUrlScheme("https://example.com/rss"), "https://example.com/rss");
    EXPECT_EQ(withUrlScheme("HTTP://example.com/rss"), "HTTP://example.com/rss");
    EXPECT_EQ(withUrlScheme("example.com/?u=http://x"), "http://example.com/?u=http://x");
    EXPECT_EQ(readArticleCount(" 010 "), 10);
    EXPECT_EQ(readArticleCount("0"), 0);
    EXPECT_EQ(readArticleCount("32767"), 32767);
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
    ASSERT_TRUE(test::writeFile(store.storePath(), "not xml"));
    view.current = -1;
    EXPECT_FALSE(moveSelectedFeedUp(store, view, prompter));
    EXPECT_FALSE(moveSelectedFeedDown(store, view, prompter));
    view.current = 0;
    EXPECT_FALSE(moveSelectedFeedUp(store, view, prompter));
    view.current = 2;
    EXPECT_FALSE(moveSelectedFeedDown(store, view, prompter));
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

    // A folder where the lock file belongs makes every save fail at once.
    QFile::remove(StoreLock::lockPathFor(store.storePath()));
    ASSERT_TRUE(QDir().mkpath(StoreLock::lockPathFor(store.storePath())));
    view.rows[0] = "stale | 1"; // a failed change refills the list from the file
    view.selected = {0};
    EXPECT_FALSE(deleteSelectedFeeds(store, view, prompter));
    expectOneError("could not be saved");
    EXPECT_EQ(rowUrls().size(), 3);
    view.rows.removeLast(); // as if the file changed behind the list's back
    view.current = 1;
    EXPECT_FALSE(moveSelectedFeedUp(store, view, prompter));
    expectOneError("changed outside");
    EXPECT_EQ(rowUrls().size(), 3);
    EXPECT_EQ(fileBytes(), before);

    ASSERT_TRUE(test::writeFile(store.storePath(), "<root><feed"));
    EXPECT_FALSE(addFeed(store, view, prompter, "http://new/", 10));
    expectOneError(QDir::toNativeSeparators(store.storePath()));
    EXPECT_EQ(view.rows.size(), 3);
    EXPECT_EQ(fileBytes(), "<root><feed");
}

} // namespace
} // namespace quorvel
