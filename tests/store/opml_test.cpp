#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "platform/xmldocument.h"
#include "store/feedlistview.h"
#include "store/feedstore.h"
#include "store/opml.h"

namespace quorvel {
namespace {

using test::LoopbackServer;
using test::Response;

const QString kData = QStringLiteral(QUORVEL_TEST_DATA "/opml/");

// Only the rows matter to the import.
class RowsOnly : public FeedListView {
public:
    QStringList rows;
    int rowCount() const override { return static_cast<int>(rows.size()); }
    int currentRow() const override { return -1; }
    bool isRowSelected(int) const override { return false; }
    QString rowText(int row) const override { return rows.at(row); }
    void setRowText(int row, const QString& text) override { rows[row] = text; }
    void appendRow(const QString& text) override { rows << text; }
    void insertRow(int row, const QString& text) override { rows.insert(row, text); }
    void removeRow(int row) override { rows.removeAt(row); }
    void setCurrentRow(int) override {}
    void clearRows() override { rows.clear(); }
    QString newFeedText() const override { return {}; }
    void setNewFeedText(const QString&) override {}
    QString numArticlesText() const override { return {}; }
    bool justHeadings() const override { return false; }
    bool feedDisabled() const override { return false; }
};

class Opml : public ::testing::Test {
protected:
    void SetUp() override {
        writeStore("<root refresh='60000'><feed url='http://old/' num='10' "
                   "headers='false' disabled='false'/></root>");
    }
    void writeStore(const QByteArray& text) {
        QFile f(store.storePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray storeBytes() const {
        QFile f(store.storePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir;
    FeedStore store{dir.path()};
    RowsOnly view;
};

TEST_F(Opml, ImportAppendsEveryFeedOutlineAtAnyDepth) {
    const OpmlImportResult result = importOpml(store, kData + "nested.opml", &view);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.added, 3);
    EXPECT_EQ(view.rows,
              (QStringList{"http://a.example/feed.xml | 1 | H", "https://b.example/rss | 1 | H",
                           "http://c.example/atom.xml | 1 | H"}));
    const XmlDocument doc = store.load();
    const auto feeds = doc.documentElement().childElements("feed");
    ASSERT_EQ(feeds.size(), 4u);
    EXPECT_EQ(feeds[0].getAttribute("url"), "http://old/");
    EXPECT_EQ(feeds[2].getAttribute("url"), "https://b.example/rss");
    EXPECT_EQ(feeds[3].getAttribute("num"), "1");
    EXPECT_EQ(feeds[3].getAttribute("headers"), "True");
    EXPECT_EQ(feeds[3].getAttribute("disabled"), "False");
    EXPECT_EQ(doc.documentElement().getAttribute("refresh"), "7200000");
}

TEST_F(Opml, FileWithoutOpmlRootAddsNothingButSetsTwoHours) {
    const OpmlImportResult result = importOpml(store, kData + "no-opml-root.opml", &view);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.added, 0);
    EXPECT_TRUE(view.rows.isEmpty());
    EXPECT_EQ(store.load().documentElement().getAttribute("refresh"), "7200000");
}

TEST_F(Opml, FileThatIsNotXmlChangesNothing) {
    const QByteArray before = storeBytes();
    for (const QString& name : {QStringLiteral("not-xml.opml"), QStringLiteral("missing.opml")}) {
        const OpmlImportResult result = importOpml(store, kData + name, &view);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error.contains(name)) << result.error.toStdString();
    }
    EXPECT_EQ(storeBytes(), before);
    EXPECT_TRUE(view.rows.isEmpty());
}

TEST_F(Opml, ExportOfAllDisabledFeedsIsTheFrame) {
    writeStore("<root><feed url='http://a/' disabled='true'/><feed url='http://b/'/></root>");
    CurlFetcher fetcher;
    QString text;
    ASSERT_TRUE(buildOpmlExport(store, fetcher, &text, nullptr));
    EXPECT_EQ(text.toStdString(),
              "<opml version=\"1.0\">\r\n<head><title>Quorvel RSS Reader OPML Export</title>"
              "<ownerName>Quorvel</ownerName><ownerEmail>feedback@quorvel.example</ownerEmail>"
              "</head>\r\n<body>\r\n</body></opml>");
}

TEST_F(Opml, ExportLooksUpTitlesInStoreOrderAndStaysWellFormed) {
    LoopbackServer server;
    Response slow;
    slow.body = "<rss><channel><title>Slow &amp; Steady \"News\"</title></channel></rss>";
    slow.delayMs = 300;
    Response quick;
    quick.body = "<rss><channel></channel></rss>";
    server.setRoute("/slow", slow);
    server.setRoute("/quick", quick);
    writeStore(QStringLiteral("<root><feed url='%1' disabled='false'/>"
                              "<feed url='%2' disabled='False'/><feed url='%3' disabled='0'/>"
                              "</root>")
                   .arg(server.url("/slow"), server.url("/quick"), server.url("/gone"))
                   .toUtf8());
    CurlFetcher fetcher;
    const QString target = dir.path() + "/export.opml";
    QString error;
    int lastDone = 0;
    ASSERT_TRUE(exportOpml(store, fetcher, target, &error, [&](int done, int total) {
        EXPECT_EQ(total, 3);
        lastDone = done;
    })) << error.toStdString();
    EXPECT_EQ(lastDone, 3);

    const XmlDocument exported = XmlDocument::fromFile(target, &error);
    ASSERT_FALSE(exported.isNull()) << error.toStdString();
    const auto outlines = exported.selectNodes("//outline");
    ASSERT_EQ(outlines.size(), 3u);
    EXPECT_EQ(outlines[0].getAttribute("title"), "Slow & Steady \"News\"");
    EXPECT_EQ(outlines[0].getAttribute("xmlUrl"), server.url("/slow"));
    EXPECT_EQ(outlines[1].getAttribute("text"), "No Title");
    EXPECT_EQ(outlines[2].getAttribute("text"), "url not found");

    // The export reads back in as the same feeds.
    writeStore("<root/>");
    EXPECT_EQ(importOpml(store, target, nullptr).added, 3);
}

} // namespace
} // namespace quorvel
