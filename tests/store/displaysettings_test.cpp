#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/xmldocument.h"
#include "store/displaysettings.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storelock.h"

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

TEST_F(DisplaySettingsStore, DefaultStoreReadsAsDocumented) {
    writeDefaultStore();
    QStringList problems;
    const DisplaySettings s = read(&problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
    EXPECT_EQ(s.heading.font, "arial");
    EXPECT_EQ(s.heading.size, "12");
    EXPECT_EQ(s.heading.colour, "#000000");
    EXPECT_TRUE(s.heading.bold);
    EXPECT_FALSE(s.heading.italic);
    EXPECT_EQ(s.date.size, "11");
    EXPECT_FALSE(s.date.bold);
    EXPECT_TRUE(s.date.italic);
    EXPECT_EQ(s.hover.colour, "#FF0000");
    EXPECT_TRUE(s.visited.bold);
    EXPECT_EQ(s.background, "#FFFFFF");
    EXPECT_EQ(s.refreshMinutes, "1");
    EXPECT_EQ(s.trans, "255");
    EXPECT_FALSE(s.startMinimised);
}

TEST_F(DisplaySettingsStore, SavingTheDefaultsWritesTheDocumentedTexts) {
    writeDefaultStore();
    ASSERT_TRUE(saveDisplaySettings(store, read(nullptr)));
    EXPECT_EQ(rootAttribute("heading"),
              "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;");
    EXPECT_EQ(rootAttribute("body"), "font-family:arial;font-size:11;color:#000000;"
                                     "font-weight:normal;font-style:normal;"
                                     "background-color:#FFFFFF");
    EXPECT_EQ(rootAttribute("bDate"), "font-family:arial;font-size:11;color:#000000;"
                                      "font-weight:normal;font-style:italic;");
    EXPECT_EQ(rootAttribute("hover"), "color:#FF0000;font-weight:bold;font-style:normal;");
    EXPECT_EQ(rootAttribute("refresh"), "60000");
    EXPECT_EQ(rootAttribute("trans"), "255");
    EXPECT_EQ(rootAttribute("min"), "false");
}

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

TEST_F(DisplaySettingsStore, ShortStyleValueIsReportedAndReadAsFarAsItGoes) {
    writeDefaultStore();
    XmlDocument document = store.load();
    document.documentElement().setAttribute("link",
                                            "font-family:verdana;font-size:9;color:#00FF00");
    ASSERT_TRUE(store.save(document));
    QStringList problems;
    const DisplaySettings s = read(&problems);
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].contains("link"));
    EXPECT_EQ(s.link.colour, "#00FF00");
    EXPECT_FALSE(s.link.bold);
    EXPECT_EQ(s.visited.colour, "#FF0000");
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

TEST(DisplaySettingsChecks, TransparencyAcceptsOneTo255) {
    for (const char* good : {"1", "255", "12.5", " 128 "})
        EXPECT_TRUE(isAcceptedTransparency(good)) << good;
    for (const char* bad : {"0", "256", "0.5", "abc", "", "nan"})
        EXPECT_FALSE(isAcceptedTransparency(bad)) << bad;
}

TEST(DisplaySettingsChecks, ChoiceListsHoldTheOfferedValues) {
    EXPECT_EQ(refreshChoices(), QStringList({"1", "2", "5", "10", "20", "30", "60", "120"}));
    EXPECT_EQ(sizeChoices().first(), "6");
    EXPECT_EQ(sizeChoices().last(), "24");
    EXPECT_EQ(sizeChoices().size(), 19);
}

TEST_F(DisplaySettingsStore, BusyWhileAnotherWriterHoldsTheLock) {
    EXPECT_FALSE(isStoreBusy(store));
    {
        StoreLock otherWriter(store.storePath(), 0);
        ASSERT_TRUE(otherWriter.isLocked());
        EXPECT_TRUE(isStoreBusy(store));
        EXPECT_FALSE(waitUntilStoreFree(store, 30));
    }
    EXPECT_TRUE(waitUntilStoreFree(store, 30));
}

} // namespace
} // namespace quorvel
