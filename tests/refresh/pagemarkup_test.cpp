#include <gtest/gtest.h>

#include "platform/xmldocument.h"
#include "refresh/pagemarkup.h"
#include "refresh/settings.h"

namespace quorvel {
namespace {

struct Rendered {
    QString page;
    QString firstTitle = QStringLiteral("earlier");
};

Rendered render(const char* xml, int limit, bool headingsOnly, bool firstSlot = true,
                const QUrl& feedAddress = QUrl()) {
    QString error;
    XmlDocument doc = XmlDocument::parse(QByteArray(xml), &error);
    EXPECT_FALSE(doc.isNull()) << error.toStdString();
    Rendered r;
    appendFeedMarkup(doc, limit, headingsOnly, firstSlot, &r.page, &r.firstTitle, feedAddress);
    return r;
}

const char* kImageFeed =
    R"(<rss><channel><title>Site</title><lastBuildDate>Mon, 1 Jan</lastBuildDate>
<image><url>http://x/logo.png</url><link>http://x/</link></image>
<item><title>One</title><link>http://x/1</link><description>First</description><pubDate>D1</pubDate></item>
<item><title>Two</title><link>http://x/2</link><description>Second</description><pubDate>D2</pubDate></item>
</channel></rss>)";

TEST(PageMarkup, ImageHeadingWithFullItems) {
    const Rendered r = render(kImageFeed, 10, false);
    EXPECT_EQ(r.page.toStdString(),
              "<a name='Site'></a><a href='http://x/'><img border='0' src='http://x/logo.png'></a>"
              "<br />Site<br /><span class='bDate'>Mon, 1 Jan</span><br /><br />"
              "<a href='http://x/1' target='_blank'>One</a><br /><span class='bDate'>D1</span>"
              "<p>First</p><br /><br />"
              "<a href='http://x/2' target='_blank'>Two</a><br /><span class='bDate'>D2</span>"
              "<p>Second</p><br /><br /><hr>");
    EXPECT_EQ(r.firstTitle, "One");
}

TEST(PageMarkup, HeadingsOnlyUsesPlainHeadingAndShortItems) {
    const Rendered r = render(kImageFeed, 10, true);
    EXPECT_EQ(
        r.page.toStdString(),
        "<a name='Site'></a><span class='heading'>Site</span><br />"
        "<span class='bDate'>Mon, 1 Jan</span><br /><br />"
        "<a href='http://x/1' target='_blank'>One</a><br /><span class='bDate'>D1</span><br />"
        "<a href='http://x/2' target='_blank'>Two</a><br /><span class='bDate'>D2</span><br />"
        "<hr>");
}

TEST(PageMarkup, MissingChildrenTakeTheirDefaults) {
    const Rendered r = render("<rss><channel><image><url>http://x/i.png</url></image>"
                              "<item></item></channel></rss>",
                              10, false);
    EXPECT_EQ(r.page.toStdString(),
              "<a name='No Title'></a><a href='#'><img border='0' src='http://x/i.png'></a><br />"
              "No Title<br /><span class='bDate'>No Date</span><br /><br />"
              "<a href='#' target='_blank'></a><br /><span class='bDate'></span>"
              "<p>No Description</p><br /><br /><hr>");
    EXPECT_EQ(r.firstTitle, "");
}

TEST(PageMarkup, ImageWithoutUrlGivesPlainHeading) {
    const Rendered r = render("<rss><channel><title>T</title><image><link>http://x/</link></image>"
                              "</channel></rss>",
                              10, false);
    EXPECT_EQ(r.page.toStdString(), "<a name='T'></a><span class='heading'>T</span><br />"
                                    "<span class='bDate'>No Date</span><br /><br /><hr>");
}

std::string items(int count) {
    std::string xml = "<rss><channel><title>C</title>";
    for (int i = 1; i <= count; ++i)
        xml += "<item><title>I" + std::to_string(i) + "</title></item>";
    return xml + "</channel></rss>";
}

TEST(PageMarkup, ArticleLimitCountsListedItems) {
    EXPECT_EQ(render(items(10).c_str(), 3, true).page.count("target="), 3);
    // A limit of 0 (or below) still lists the first item under a channel.
    EXPECT_EQ(render(items(10).c_str(), 0, true).page.count("target="), 1);
    EXPECT_EQ(render(items(10).c_str(), -5, true).page.count("target="), 1);
    EXPECT_EQ(render(items(2).c_str(), 10, true).page.count("target="), 2)
        << "items listed by the channel pass are not listed again";
}

TEST(PageMarkup, SecondPassReachesItemsOutsideTheChannel) {
    // RSS 1.0: items are siblings of the channel, in a default namespace.
    const char* rdf = R"(<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"
 xmlns="http://purl.org/rss/1.0/"><channel><title>R</title></channel>
<item><title>A</title><link>http://r/a</link></item><item><title>B</title></item>
<item><title>C</title></item></rdf:RDF>)";
    const Rendered r = render(rdf, 2, true);
    EXPECT_EQ(r.page.toStdString(),
              "<a name='R'></a><span class='heading'>R</span><br />"
              "<span class='bDate'>No Date</span><br /><br />"
              "<a href='http://r/a' target='_blank'>A</a><br /><span class='bDate'></span><br />"
              "<a href='#' target='_blank'>B</a><br /><span class='bDate'></span><br /><hr>");
    EXPECT_EQ(r.firstTitle, "A");
}

TEST(PageMarkup, TwoChannelsTakeTitleFromTheLastAndListBoth) {
    const Rendered r = render("<x><channel><title>First</title><item><title>a</title></item>"
                              "</channel><channel><title>Second</title><lastBuildDate>L"
                              "</lastBuildDate><item><title>b</title></item></channel></x>",
                              10, true);
    EXPECT_TRUE(r.page.startsWith("<a name='Second'></a><span class='heading'>Second</span>"));
    EXPECT_LT(r.page.indexOf(">a</a>"), r.page.indexOf(">b</a>"));
}

TEST(PageMarkup, DocumentWithoutChannelOrItems) {
    const Rendered r = render("<anything><else/></anything>", 10, false, false);
    EXPECT_EQ(r.page.toStdString(), "<a name='No Title'></a><span class='heading'>No Title</span>"
                                    "<br /><span class='bDate'>No Date</span><br /><br /><hr>");
    EXPECT_EQ(r.firstTitle, "earlier") << "only slot 0 with a listed item sets the first title";
}

TEST(PageMarkup, FeedTextsCannotBreakOutOfTheirPlace) {
    const Rendered r = render(
        "<rss><channel><title>Bob's &lt;b&gt;News&lt;/b&gt;</title>"
        "<item><title>x</title><link>javascript:alert(1)</link>"
        "<description>&lt;p onclick='steal()'&gt;Hi&lt;script&gt;bad()&lt;/script&gt;&lt;/p&gt;"
        "</description></item></channel></rss>",
        10, false);
    EXPECT_TRUE(r.page.startsWith("<a name='Bob&#39;s &lt;b&gt;News&lt;/b&gt;'></a>"))
        << r.page.toStdString();
    EXPECT_TRUE(r.page.contains("<b>News</b>")) << "ordinary formatting is kept";
    EXPECT_FALSE(r.page.contains("javascript")) << r.page.toStdString();
    EXPECT_FALSE(r.page.contains("onclick"));
    EXPECT_FALSE(r.page.contains("script"));
    EXPECT_TRUE(r.page.contains("Hi"));

    // Relative addresses are the feed's own: they resolve against where it was fetched.
    const Rendered relative = render(
        "<rss><channel><title>R</title><image><url>logo.png</url><link>/</link></image>"
        "<item><title>i</title><link>posts/1</link><description>&lt;img src='p.png'&gt;"
        "</description></item><item><title>j</title></item></channel></rss>",
        10, false, true, QUrl("https://r.example/feed/rss.xml"));
    for (const char* url : {"<a href='https://r.example/'><img border='0' "
                            "src='https://r.example/feed/logo.png'>",
                            "<a href='https://r.example/feed/posts/1'",
                            "<img src=\"https://r.example/feed/p.png\">", "<a href='#'"})
        EXPECT_TRUE(relative.page.contains(QString::fromUtf8(url))) << url;
}

TEST(PageMarkup, FixedPagesAndSkeleton) {
    const QString style = defaultStyleBlock();
    EXPECT_EQ(style.toStdString(),
              "<style>.heading{font-family:arial;font-size:12;color:#000000;font-weight:bold;"
              "font-style:normal;}a{font-family:arial;font-size:11;color:#0000FF;font-weight:bold;"
              "font-style:normal;}a:visited{color:#FF0000;font-weight:bold;font-style:normal;}"
              "a:hover{color:#FF0000;font-weight:bold;font-style:normal;}body{font-family:arial;"
              "font-size:11;color:#000000;font-weight:normal;font-style:normal;"
              "background-color:#FFFFFF}.bDate{font-family:arial;font-size:11;color:#000000;"
              "font-weight:normal;font-style:italic}</style>");
    EXPECT_EQ(pageSkeleton("<style></style>", "X").toStdString(),
              "<html><body><style></style>X</body></html>");
    EXPECT_EQ(noFeedsPage("S").toStdString(),
              "<html><body>S<span class='heading'>Quorvel RSS Reader</span><br />"
              "There are currently no feeds set up.</body></html>");
    EXPECT_EQ(noOfflinePage("S").toStdString(),
              "<html><body>S<span class='heading'>Quorvel RSS Reader</span><br />There are "
              "currently no offline files and are unable to connect to the internet or have no "
              "feeds set up.</body></html>");
}

} // namespace
} // namespace quorvel
