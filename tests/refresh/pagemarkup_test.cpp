#include <gtest/gtest.h>

#include "feed/feedparser.h"
#include "refresh/pagemarkup.h"
#include "testfiles.h"

namespace quorvel {
namespace {

struct Rendered {
    std::string page;
    QString firstTitle = QStringLiteral("earlier");
};

// The markup of a feed as fetched from https://r.example/feed/rss.xml.
Rendered render(const QByteArray& xml, int limit, bool headingsOnly = true, bool firstSlot = true) {
    const QUrl address("https://r.example/feed/rss.xml");
    const FeedParseResult parsed = parseFeed(xml, {.articleLimit = limit, .address = address});
    EXPECT_NE(parsed.status, FeedParseStatus::Failed) << parsed.error.toStdString();
    Rendered r;
    QString page;
    appendFeedMarkup(parsed.feed, headingsOnly, firstSlot, &page, &r.firstTitle, address);
    r.page = page.toStdString();
    return r;
}

// Script and event attributes in feed texts are the hostile feeds test's part.
TEST(PageMarkup, RendersHeadingsAndItemsWithUrlsResolvedAgainstWhereTheFeedWasFetched) {
    const char* image =
        R"(<rss><channel><title>Site's</title><lastBuildDate>Mon, 1 Jan</lastBuildDate>
<image><url>logo.png</url><link>/</link></image>
<item><title>One</title><link>posts/1</link><description>&lt;img src='p.png'&gt;</description><pubDate>D1</pubDate></item>
<item><title>Two</title><link>http://x/2' onclick='y</link><description>Second</description><pubDate>D2</pubDate></item>
</channel></rss>)";
    // RSS 1.0: the items are the channel's siblings, in a default namespace.
    const char* rdf = R"(<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"
 xmlns="http://purl.org/rss/1.0/"><channel><title>R</title></channel>
<item><title>A</title><link>http://r/a</link></item><item><title>B</title></item>
<item><title>C</title></item></rdf:RDF>)";
    struct Case {
        const char* xml;
        int limit;
        bool headingsOnly;
        const char* page;
        const char* firstTitle;
    };
    for (const Case& c :
         {Case{image, 10, false,
               "<a name='Site&#39;s'></a><a href='https://r.example/'><img border='0' "
               "src='https://r.example/feed/logo.png'></a><br />Site's<br /><span class='bDate'>"
               "Mon, 1 Jan</span><br /><br /><a href='https://r.example/feed/posts/1' "
               "target='_blank'>One</a><br /><span class='bDate'>D1</span><p><img "
               "src=\"https://r.example/feed/p.png\"></p><br /><br /><a href='http://x/2&#39; "
               "onclick=&#39;y' target='_blank'>Two</a><br /><span "
               "class='bDate'>D2</span><p>Second</p><br />"
               "<br /><hr>",
               "One"},
          Case{image, 10, true,
               "<a name='Site&#39;s'></a><span class='heading'>Site's</span><br /><span "
               "class='bDate'>"
               "Mon, 1 Jan</span><br /><br /><a href='https://r.example/feed/posts/1' "
               "target='_blank'>One</a><br /><span class='bDate'>D1</span><br /><a "
               "href='http://x/2&#39; onclick=&#39;y' target='_blank'>Two</a><br /><span "
               "class='bDate'>D2</span>"
               "<br /><hr>",
               "One"},
          Case{"<rss><channel><image><url>http://x/i.png</url></image><item></item></channel>"
               "</rss>",
               10, false,
               "<a name='No Title'></a><a href='#'><img border='0' src='http://x/i.png'></a>"
               "<br />No Title<br /><span class='bDate'>No Date</span><br /><br /><a href='#' "
               "target='_blank'></a><br /><span class='bDate'></span><p>No Description</p>"
               "<br /><br /><hr>",
               ""},
          Case{"<rss><channel><title>T</title><image><link>http://x/</link></image></channel>"
               "</rss>",
               10, false,
               "<a name='T'></a><span class='heading'>T</span><br /><span class='bDate'>"
               "No Date</span><br /><br /><hr>",
               "earlier"},
          Case{rdf, 2, true,
               "<a name='R'></a><span class='heading'>R</span><br /><span class='bDate'>"
               "No Date</span><br /><br /><a href='http://r/a' target='_blank'>A</a><br />"
               "<span class='bDate'></span><br /><a href='#' target='_blank'>B</a><br /><span "
               "class='bDate'></span><br /><hr>",
               "A"}}) {
        const Rendered r = render(c.xml, c.limit, c.headingsOnly);
        EXPECT_EQ(r.page, c.page) << c.xml;
        EXPECT_EQ(r.firstTitle, c.firstTitle) << c.xml;
    }
    EXPECT_EQ(render(image, 10, false, false).firstTitle, "earlier") << "only slot 0 sets it";
    EXPECT_EQ(pageSkeleton("<style></style>", "X"), "<html><body><style></style>X</body></html>");
}

TEST(PageMarkup, ArticleLimitCountsListedItemsAndTwoChannelsAreBothListed) {
    auto items = [](int count) {
        QByteArray xml = "<rss><channel><title>C</title>";
        for (int i = 1; i <= count; ++i)
            xml += "<item><title>I" + QByteArray::number(i) + "</title></item>";
        return xml + "</channel></rss>";
    };
    // A limit of 0 (or below) still lists the first item under a channel; items listed by
    // the channel pass are not listed again.
    for (const auto& [count, limit, listed] :
         {std::tuple{10, 3, 3}, {10, 0, 1}, {10, -5, 1}, {2, 10, 2}})
        EXPECT_EQ(QString::fromStdString(render(items(count), limit).page).count("target="), listed)
            << count << " items, limit " << limit;
    const std::string two = render("<x><channel><title>First</title><item><title>a</title></item>"
                                   "</channel><channel><title>Second</title><item><title>b</title>"
                                   "</item></channel></x>",
                                   10)
                                .page;
    EXPECT_EQ(two.rfind("<a name='Second'></a><span class='heading'>Second</span>", 0), 0u)
        << "the last channel's title heads the feed";
    EXPECT_LT(two.find(">a</a>"), two.find(">b</a>"));
}

TEST(PageMarkup, RelativeUrlsInAtomContentResolveAgainstItsXmlBase) {
    const std::string page =
        render(test::readFile(QUORVEL_TEST_DATA "/feeds/atom/content-base.xml"), 10, false).page;
    for (const char* url : {"href=\"https://r.example/feed/sub/posts/one.html\"",
                            "src=\"https://r.example/img/two.png\"",
                            "src=\"http://cdn.example/three.png\"",
                            "src=\"https://r.example/feed/sub/four.png\""})
        EXPECT_NE(page.find(url), std::string::npos) << url;
}

} // namespace
} // namespace quorvel
