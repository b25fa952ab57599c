#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "store/displaysettings.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"

namespace quorvel {
namespace {

class DisplaySettingsStore : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FeedStore store{dir.path()};

    void SetUp() override { writeStore(defaultStoreText().toUtf8()); }

    void writeStore(const QByteArray& text) {
        QFile file(store.storePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    void writeDefaultStore() { ASSERT_TRUE(applySettingsDefaults(store)); }

    QString rootAttribute(const char* name) const {
        return store.load().documentElement().getAttribute(name).value_or("<missing>");
    }

    DisplaySettings read(QStringList* problems) const {
        return readDisplaySettings(store.load(), problems);
    }
};

TEST_F(DisplaySettingsStore, EmptyTransReadsAs255AndFractionalMinutesRoundTrip) {
    writeStore("<root refresh='90000' trans='' min='TRUE' "
               "hover='color:#FF0000;font-weight:normal;font-style:italic;'/>");
    QStringList problems;
    DisplaySettings s = read(&problems);
    EXPECT_EQ(s.trans, "255");
    EXPECT_EQ(s.refreshMinutes, "1.5");
    EXPECT_TRUE(s.startMinimised);
    EXPECT_TRUE(s.hover.italic);
    EXPECT_FALSE(s.hover.bold);
    // Five style values are missing from this store; each is named.
    EXPECT_EQ(problems.size(), 5);
    ASSERT_TRUE(saveDisplaySettings(store, s));
    EXPECT_EQ(rootAttribute("hover"), "color:#FF0000;font-weight:normal;font-style:italic;");
    EXPECT_EQ(rootAttribute("refresh"), "90000");
}

TEST_F(DisplaySettingsStore, BadIntervalOrUnreadableStoreSavesNothing) {
    writeDefaultStore();
    DisplaySettings s = read(nullptr);
    s.refreshMinutes = "soon";
    s.heading.font = "changed";
    QString error;
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(rootAttribute("heading").left(17), "font-family:arial");

    writeStore("<root");
    s.refreshMinutes = "2";
    EXPECT_FALSE(saveDisplaySettings(store, s, &error));
    EXPECT_TRUE(error.contains("rss_feeds.xml")) << error.toStdString();
}

TEST(DisplaySettingsChecks, RefreshMinutesBecomeMilliseconds) {
    EXPECT_EQ(refreshMillisecondsFromMinutes("1.5"), 90000);
    EXPECT_EQ(refreshMillisecondsFromMinutes(" 120 "), 7200000);
    for (const char* bad : {"", "0", "-1", "soon", "1,5", "100000"})
        EXPECT_FALSE(refreshMillisecondsFromMinutes(bad)) << bad;
}

} // namespace
} // namespace quorvel
