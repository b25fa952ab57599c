#include <csignal>
#include <memory>
#include <thread>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "quorvelprocess.h"
#include "platform/xmldocument.h"
#include "store/storelock.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::Quorvel;
using test::fileMode;
using test::readFile;
using test::writeFile;

// An OPML file of count outlines at loopback addresses that refuse connections.
QString writeOpml(const QString& path, const QString& tag, int count) {
    QByteArray opml = "<opml version='1.0'><body>";
    for (int i = 0; i < count; ++i)
        opml += "<outline text='f' xmlUrl='http://127.0.0.1:1/" + tag.toUtf8() + "/" +
                QByteArray::number(i) + "'/>";
    EXPECT_TRUE(writeFile(path, opml + "</body></opml>"));
    return path;
}

QStringList storedUrls(const QString& folder) {
    return test::storedFeeds(FeedStore(folder), {"url"});
}

TEST(ConcurrentWriters, TwoImportsAtOnceIntoANewFolderKeepEveryFeedAndBothSucceed) {
    QTemporaryDir dir;
    const QString data = dir.path() + "/data";
    Quorvel first(
        {"--data-dir", data, "--import-opml", writeOpml(dir.path() + "/a.opml", "a", 2000)});
    Quorvel second(
        {"--data-dir", data, "--import-opml", writeOpml(dir.path() + "/b.opml", "b", 2000)});
    for (Quorvel* run : {&first, &second}) {
        EXPECT_EQ(run->finish(), 0) << run->err().toStdString();
        EXPECT_TRUE(run->err().startsWith("Imported 2000 feeds into")) << run->err().toStdString();
    }
    const QStringList urls = storedUrls(data);
    EXPECT_EQ(urls.size(), 4002) << "both imports and the two first-start feeds";
    EXPECT_EQ(urls.filter("/a/").size(), 2000);
    EXPECT_EQ(urls.filter("/b/").size(), 2000);
    EXPECT_EQ(fileMode(data + "/rss_feeds.xml"), 0600);
}

TEST(ConcurrentWriters, AnImportDuringAnUpgradingRefreshKeepsEveryImportedFeed) {
    QTemporaryDir dir;
    const QString opml = writeOpml(dir.path() + "/new.opml", "new", 300);
    QByteArray old = "<root quorvelVersion='1_5_0_0' refresh='60000' min='false' trans='255' "
                     "magnetic='false' heading='' link='' hover='' visited='' bDate='' body=''>";
    for (int i = 0; i < 2000; ++i)
        old += "<feed url='http://127.0.0.1:1/old/" + QByteArray::number(i) + "' disabled='true'/>";
    old += "</root>";
    // The import starts at different moments of the refresh's upgrade.
    for (const int delayMs : {0, 10, 25, 50, 100}) {
        const QString data = dir.path() + "/run" + QString::number(delayMs);
        ASSERT_TRUE(QDir().mkpath(data));
        ASSERT_TRUE(writeFile(data + "/rss_feeds.xml", old));
        Quorvel refresh({"--refresh", "--data-dir", data});
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        Quorvel import({"--data-dir", data, "--import-opml", opml});
        EXPECT_EQ(import.finish(), 0) << import.err().toStdString();
        EXPECT_EQ(refresh.finish(), 0) << refresh.err().toStdString();
        EXPECT_TRUE(refresh.err().contains("Quorvel RSS Reader will now update"));
        const QStringList urls = storedUrls(data);
        EXPECT_EQ(urls.filter("/new/").size(), 300) << "import " << delayMs << " ms later";
        EXPECT_EQ(urls.filter("/old/").size(), 2000);
        const XmlDocument store = XmlDocument::fromFile(data + "/rss_feeds.xml");
        EXPECT_EQ(store.documentElement().getAttribute("quorvelVersion"), "1_6_0_0");
    }
}

// Keeps the program from writing into folder: a read-only bind mount when running as root
// (root passes any permission check), otherwise permissions that forbid writing.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder) : m_path(QFile::encodeName(folder)) {
        if (::geteuid() != 0) {
            m_active = ::chmod(m_path.constData(), 0500) == 0;
            return;
        }
        m_mounted = ::mount(m_path.constData(), m_path.constData(), nullptr, MS_BIND, nullptr) == 0;
        m_active = m_mounted && ::mount(nullptr, m_path.constData(), nullptr,
                                        MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyFolder() {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
        else
            ::chmod(m_path.constData(), 0700);
    }
    bool active() const { return m_active; }

private:
    QByteArray m_path;
    bool m_mounted = false, m_active = false;
};

class ImportMessages : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString data = dir.path() + "/data";
    QString opml = writeOpml(dir.path() + "/in.opml", "in", 2000);
    QByteArray before;

    void SetUp() override {
        // A store of loopback addresses, rewritten by the program in its own form.
        ASSERT_TRUE(QDir().mkpath(data));
        ASSERT_TRUE(writeFile(data + "/rss_feeds.xml", "<root/>"));
        Quorvel create(
            {"--data-dir", data, "--import-opml", writeOpml(dir.path() + "/one.opml", "one", 1)});
        ASSERT_EQ(create.finish(), 0) << create.err().toStdString();
        before = readFile(data + "/rss_feeds.xml");
    }
    // Runs the import; expects a failure that names what happened and leaves the store.
    void expectFailure(const QString& message, std::function<void()> inChild = {}) {
        Quorvel run({"--data-dir", data, "--import-opml", opml}, {.inChild = std::move(inChild)});
        EXPECT_EQ(run.finish(), 1) << run.err().toStdString();
        EXPECT_TRUE(run.err().contains(message)) << run.err().toStdString();
        EXPECT_FALSE(run.err().contains("valid OPML")) << run.err().toStdString();
        EXPECT_EQ(readFile(data + "/rss_feeds.xml"), before);
    }
};

TEST_F(ImportMessages, BusyFullDiskAndReadOnlyStoresEachGetTheirOwnMessage) {
    {
        StoreLock otherWriter(data + "/rss_feeds.xml", 0);
        ASSERT_TRUE(otherWriter.isLocked());
        expectFailure("The feed list is busy");
    }
    expectFailure("The disk is full", [] {
        // The child may write no file larger than a few bytes, as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit tiny{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    });
    {
        ReadOnlyFolder readOnly(data);
        if (readOnly.active())
            expectFailure("read-only");
        else
            std::fprintf(stderr, "note: no way to make a folder read-only here; case skipped\n");
    }
    Quorvel works({"--data-dir", data, "--import-opml", opml});
    EXPECT_EQ(works.finish(), 0) << works.err().toStdString();
}

} // namespace
} // namespace quorvel
