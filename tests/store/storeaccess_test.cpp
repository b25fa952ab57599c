#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QUrl>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "store/storeaccess.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using namespace test;

// The store and OPML files are read from disk; only web addresses go through the fetcher.
TEST(LoadXmlDocument, ReadsLocalFilesFromDiskAndOnlyWebAddressesThroughTheFetcher) {
    QTemporaryDir dir;
    const QString local = dir.filePath("store file.xml");
    ASSERT_TRUE(writeFile(local, "<root from='disk'/>"));
    LoopbackServer server;
    server.setRoute("/feed", served("<root from='web'/>"));
    CurlFetcher fetcher;

    const struct {
        QString source;
        bool withFetcher;
        QString from, error;
    } cases[] = {
        {local, false, "disk", ""},
        {QUrl::fromLocalFile(local).toString(QUrl::FullyEncoded), false, "disk", ""},
        {local, true, "disk", ""},
        {server.url("/feed"), true, "web", ""},
        {"ftp://127.0.0.1/feed", true, "", "not a web address: ftp://127.0.0.1/feed"},
        {server.url("/feed"), false, "", "without a fetcher"},
        {dir.filePath("missing.xml"), true, "", "missing.xml"},
    };
    for (const auto& c : cases) {
        QString error;
        const XmlDocument document =
            loadXmlDocument(c.source, c.withFetcher ? &fetcher : nullptr, &error);
        const std::string what = c.source.toStdString() + (c.withFetcher ? " (fetcher)" : "");
        if (c.from.isEmpty()) {
            EXPECT_TRUE(document.isNull()) << what;
            EXPECT_TRUE(error.contains(c.error)) << what << ": " << error.toStdString();
        } else {
            ASSERT_FALSE(document.isNull()) << what << ": " << error.toStdString();
            EXPECT_EQ(document.documentElement().getAttribute("from"), c.from) << what;
        }
    }
    EXPECT_EQ(server.totalRequests(), 1);
}

} // namespace
} // namespace quorvel
