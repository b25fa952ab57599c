#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "benchsupport.h"
#include "feed/feedparser.h"
#include "recordingport.h"
#include "refresh/settings.h"
#include "store/feedlistoperations.h"
#include "store/feedstore.h"
#include "testfiles.h"

namespace quorvel {
namespace {

TEST(BenchFeeds, ShapeJoinsItemsAndPutsTheLogoOnEveryFourthFeed) {
    const bench::FeedShape shape{"[%1", "L", "(", "<%1>", ",", ")]"};
    EXPECT_EQ(bench::buildFeed(shape, 4, 3), "[4L(<0>,<1>,<2>)]");
    EXPECT_EQ(bench::buildFeed(shape, 5, 1), "[5(<0>)]");
    EXPECT_EQ(bench::buildFeed(shape, 0, 0), "[0L()]");
}

// The feeds the benchmarks serve read as they are meant to: every item with its own link.
TEST(BenchFeeds, StoryFeedReadsAsRssWithEveryItem) {
    FeedParseOptions options;
    options.articleLimit = 100;
    const FeedParseResult result = parseFeed(bench::storyFeed(7, 30), options);
    ASSERT_EQ(result.status, FeedParseStatus::Loaded) << result.error.toStdString();
    EXPECT_EQ(result.feed.format, FeedFormat::Rss);
    EXPECT_EQ(result.feed.plainTitle, "Feed 7");
    ASSERT_EQ(result.feed.items.size(), 30u);
    EXPECT_EQ(result.feed.items[29].title, "Story 29");
    EXPECT_EQ(result.feed.items[29].link, "http://example.org/29");
    EXPECT_TRUE(result.feed.items[0].description.contains("<b>bold</b>"));
}

// A benchmark's store must be read without repairs, at its interval and with its feeds:
// otherwise the reader would measure another interval or rewrite the store first.
TEST(BenchStores, StoreReadsWithoutRepairAtItsIntervalWithItsFeeds) {
    QTemporaryDir dir;
    FeedStore store(dir.path());
    const QByteArray feeds = bench::feedElement("http://127.0.0.1:9/a") +
                             bench::feedElement("http://127.0.0.1:9/b");
    ASSERT_TRUE(test::writeFile(store.storePath(), bench::storeXml(feeds, 60000)));

    test::RecordingPort port;
    Settings settings;
    int repairs = 0;
    QString error;
    const XmlDocument document = getSettings(store, port, &settings, &repairs, &error);
    ASSERT_FALSE(document.isNull()) << error.toStdString();
    EXPECT_EQ(repairs, 0);
    EXPECT_EQ(refreshIntervalFromText(settings.refreshText), 60000);
    EXPECT_EQ(settings.styleBlock, defaultStyleBlock());
    QStringList problems;
    EXPECT_EQ(feedListRows(document, &problems),
              QStringList({"http://127.0.0.1:9/a | 10", "http://127.0.0.1:9/b | 10"}));
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
}

} // namespace
} // namespace quorvel
