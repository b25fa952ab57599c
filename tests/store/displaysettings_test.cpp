#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "store/displaysettings.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "testfiles.h"

namespace quorvel {
namespace {

class DisplaySettingsStore : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FeedStore store{dir.path()};

    QString rootAttribute(const char* name) const {
        return store.load().documentElement().getAttribute(name).value_or("<missing>");
    }
};

TEST_F(DisplaySettingsStore, EmptyTransReadsAs255AndFractionalMinutesRoundTrip) {
    ASSERT_TRUE(test::writeFile(store.storePath(), "<root refresh='90000' trans='' min='TRUE'/>"));
    QStringList problems;
    const DisplaySettings s = readDisplaySettings(store.load(), &problems);
    EXPECT_EQ(s.trans, "255");
    EXPECT_EQ(s.refreshMinutes, "1.5");
    EXPECT_TRUE(s.startMinimised);
    EXPECT_EQ(problems.size(), 6); // each missing style value is named
    ASSERT_TRUE(saveDisplaySettings(store, s));
    EXPECT_EQ(rootAttribute("refresh"), "90000");
}

TEST_F(DisplaySettingsStore, BadIntervalOrUnreadableStoreSavesNothing) {
    ASSERT_TRUE(test::writeFile(store.storePath(), defaultStoreText().toUtf8()));
    ASSERT_TRUE(applySettingsDefaults(store));
    DisplaySettings s = readDisplaySettings(store.load(), nullptr);
    s.refreshMinutes = "soon";
    s.heading.font = "changed";
    QString error;
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(rootAttribute("heading").startsWith("font-family:arial;"));

    ASSERT_TRUE(test::writeFile(store.storePath(), "<root"));
    s.refreshMinutes = "2";
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_TRUE(error.contains("rss_feeds.xml")) << error.toStdString();
}

TEST(DisplaySettingsChecks, RefreshMinutesBecomeMilliseconds) {
    EXPECT_EQ(refreshMillisecondsFromMinutes(" 120 "), 7200000);
    for (const char* bad : {"", "0", "-1", "soon", "1,5", "100000"})
        EXPECT_FALSE(refreshMillisecondsFromMinutes(bad)) << bad;
}

} // namespace
} // namespace quorvel
