#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/xmldocument.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/settingwriters.h"
#include "store/storeaccess.h"
#include "store/storelock.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::readFile;
using test::writeFile;

// Boolean text: words in any case or numbers; whole numbers: form and range; versions.
TEST(StoreTexts, BooleansNumbersAndVersionsReadAsWritten) {
    auto boolean = [](const char* text) {
        bool ok = false;
        const bool value = readBooleanText(text, &ok);
        return ok ? (value ? 1 : 0) : -1;
    };
    for (const char* yes : {"True", "tRUE", "1", "-2"})
        EXPECT_EQ(boolean(yes), 1) << yes;
    for (const char* no : {"FALSE", "0"})
        EXPECT_EQ(boolean(no), 0) << no;
    for (const char* bad : {"", "yes", "on", "t"})
        EXPECT_EQ(boolean(bad), -1) << bad;

    bool ok = false;
    EXPECT_EQ(readWholeNumber(" 010 ", -32768, 32767, &ok), 10);
    EXPECT_TRUE(ok);
    for (const char* bad : {"32768", "2.5", "ten"}) {
        readWholeNumber(bad, -32768, 32767, &ok);
        EXPECT_FALSE(ok) << bad;
    }

    for (const char* older : {"1_5_0_0", "1_5_9_9", "one", ""})
        EXPECT_TRUE(isOlderStoreVersion(older)) << older;
    for (const char* current : {"1_6_0_0", "2_0_0_0"})
        EXPECT_FALSE(isOlderStoreVersion(current)) << current;
}

class StoreFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FeedStore store{dir.path()};
};

TEST_F(StoreFiles, DefaultsCompleteEntriesButKeepWhatIsThere) {
    ASSERT_TRUE(writeFile(store.storePath(),
                          "<root magnetic='true'><feed url='a' num='0' headers=''/>"
                          "<feed url='b'/></root>"));
    ASSERT_TRUE(applySettingsDefaults(store));
    XmlDocument doc = XmlDocument::fromFile(store.storePath());
    XmlNode root = doc.documentElement();
    EXPECT_EQ(root.getAttribute("magnetic"), "true");
    const auto feeds = root.childElements("feed");
    EXPECT_EQ(feeds[0].getAttribute("num"), "0");
    EXPECT_EQ(feeds[0].getAttribute("headers"), "");
    EXPECT_EQ(feeds[1].getAttribute("num"), "10");
    EXPECT_EQ(feeds[1].getAttribute("disabled"), "false");
}

TEST_F(StoreFiles, SaveIsAtomicAndAFailedSaveKeepsThePreviousFile) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root refresh='1'/>"));
    FeedStore unreachable(dir.path() + "/no/such/folder");
    XmlDocument doc = XmlDocument::withRoot("root");
    QString error;
    EXPECT_FALSE(unreachable.save(doc, &error));
    EXPECT_FALSE(error.isEmpty());

    // A write that fails half-way (the file size limit stands in for a full disk) leaves
    // the previous file exactly as it was.
    XmlDocument big = store.load();
    big.documentElement().setAttribute("refresh", QString(64 * 1024, '9'));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = store.save(big, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFile(store.storePath()), "<root refresh='1'/>");
}

TEST_F(StoreFiles, UnreadableStoreIsReportedWithFileAndReason) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root><feed></root>"));
    QString error;
    EXPECT_TRUE(store.load(&error).isNull());
    EXPECT_TRUE(error.contains("rss_feeds.xml")) << error.toStdString();
    EXPECT_FALSE(applySettingsDefaults(store, &error));
    EXPECT_EQ(readFile(store.storePath()), "<root><feed></root>");
}

TEST_F(StoreFiles, SettingWritersTouchOnlyTheirAttribute) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root refresh='60000' magnetic='false' min='true'>"
                                             "<feed url='a'/></root>"));
    EXPECT_TRUE(storeRefreshSetting(store, 7200000));
    XmlDocument doc = store.load();
    EXPECT_EQ(doc.documentElement().getAttribute("refresh"), "7200000");
    EXPECT_EQ(doc.documentElement().getAttribute("min"), "true");
    EXPECT_EQ(doc.documentElement().childElements("feed").size(), 1u);

    EXPECT_TRUE(storeMagneticSetting(store, true));
    EXPECT_EQ(store.load().documentElement().getAttribute("magnetic"), "true");
    EXPECT_TRUE(storeMagneticSetting(store, false));
    EXPECT_EQ(store.load().documentElement().getAttribute("magnetic"), "false");
}

TEST_F(StoreFiles, WritersFailQuietlyOnAnUnreadableStore) {
    ASSERT_TRUE(writeFile(store.storePath(), "not xml"));
    EXPECT_FALSE(storeRefreshSetting(store, 120000));
    EXPECT_EQ(readFile(store.storePath()), "not xml");
}

TEST_F(StoreFiles, LockIsExclusiveBetweenHolders) {
    ASSERT_TRUE(writeFile(store.storePath(), "<root/>"));
    EXPECT_FALSE(StoreLock::isHeldElsewhere(store.storePath()));
    {
        StoreLock held(store.storePath(), 0);
        ASSERT_TRUE(held.isLocked());
        EXPECT_TRUE(StoreLock::isHeldElsewhere(store.storePath()));
        StoreLock second(store.storePath(), 50);
        EXPECT_FALSE(second.isLocked());
    }
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
