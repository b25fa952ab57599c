// One small document per case under tests/data/feeds/<format>/, read as the refresh reads
// a fetched feed.

#include <gtest/gtest.h>

#include "feed/feedparser.h"
#include "feed/feedtext.h"
#include "testfiles.h"

// Failures show texts, not their bytes.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace quorvel {
namespace {

FeedParseResult read(const char* file, int limit = 10, const QUrl& address = QUrl(),
                     const QByteArray& charset = QByteArray()) {
    FeedParseOptions options;
    options.articleLimit = limit;
    options.address = address;
    options.httpCharset = charset;
    const QByteArray bytes = test::readFile(QUORVEL_TEST_DATA "/feeds/" + QString(file));
    EXPECT_FALSE(bytes.isEmpty()) << file;
    return parseFeed(bytes, options);
}

Feed loaded(const char* file, int limit = 10, const QUrl& address = QUrl()) {
    FeedParseResult result = read(file, limit, address);
    EXPECT_EQ(result.status, FeedParseStatus::Loaded) << file << ": " << result.error.toStdString();
    return std::move(result.feed);
}

QStringList field(const Feed& feed, QString FeedItem::*member) {
    QStringList values;
    for (const FeedItem& item : feed.items)
        values << item.*member;
    return values;
}

TEST(FeedText, EachMarkupCharacterIsEscapedEvenAlone) {
    EXPECT_EQ(escapeHtmlText("1 < 2"), "1 &lt; 2");
    EXPECT_EQ(escapeHtmlText("2 > 1"), "2 &gt; 1");
    EXPECT_EQ(escapeHtmlText("say \"hi\""), "say &quot;hi&quot;");
    EXPECT_EQ(escapeHtmlText("R&D"), "R&amp;D");
    EXPECT_EQ(escapeHtmlText(QString::fromUtf8("plain caf\u00e9")), QString::fromUtf8("plain caf\u00e9"));
}

TEST(AtomFeed, TitlesOfEachTextTypeBecomeHtmlFragments) {
    const Feed feed = loaded("atom/text-types.xml");
    EXPECT_EQ(feed.format, FeedFormat::Atom);
    EXPECT_EQ(feed.title, "Tom &amp; Jerry &lt;b&gt;");
    EXPECT_EQ(feed.plainTitle, "Tom & Jerry <b>") << "the export writes the text as it is";
    EXPECT_EQ(field(feed, &FeedItem::title),
              QStringList({"A &lt;b&gt;plain&lt;/b&gt; title", "An <b>html</b> title",
                           "An <b>xhtml</b> title"}));
    EXPECT_EQ(feed.buildDate, "No Date");
    EXPECT_EQ(field(feed, &FeedItem::description), QStringList(3, "No Description"));
}

TEST(AtomFeed, LinksResolveAgainstXmlBaseAndTheAlternateOneIsChosen) {
    const Feed based = loaded("atom/xml-base.xml", 10, QUrl("http://fetched.example/feed"));
    EXPECT_EQ(based.imageLink, "http://blog.example/home");
    EXPECT_EQ(field(based, &FeedItem::link),
              QStringList({"http://blog.example/base/posts/one.html",
                           "http://blog.example/base/two.html", "https://other.example/three"}));

    const Feed links = loaded("atom/links.xml");
    EXPECT_EQ(field(links, &FeedItem::link),
              QStringList({"#", "#", "http://x.example/page", "http://x.example/plain"}));

    const Feed head = loaded("atom/feed-head.xml");
    EXPECT_EQ(head.title, "Prefixed") << "atom: prefixed elements are Atom too";
    EXPECT_EQ(head.imageUrl, "http://x.example/logo.png") << "the logo before the icon";
    EXPECT_EQ(head.imageLink, "http://x.example/");
    EXPECT_EQ(field(head, &FeedItem::link), QStringList({"http://x.example/e"}));
}

TEST(AtomFeed, DatesTakeTheRssFormWithTheirOffset) {
    const Feed feed = loaded("atom/dates.xml");
    EXPECT_EQ(feed.buildDate, "Sun, 06 Dec 2026 09:15:00 +0000");
    EXPECT_EQ(field(feed, &FeedItem::date),
              QStringList({"Sat, 05 Dec 2026 18:30:00 +0100", "Sat, 31 Jan 2026 23:59:59 -0530",
                           "yesterday &amp; today"}));
    // Checked by the Gregorian calendar's rules.
    EXPECT_EQ(displayDate(QString("2024-02-29T12:00:00Z")), "Thu, 29 Feb 2024 12:00:00 +0000");
    EXPECT_EQ(displayDate(std::string_view(" 2000-02-29 ")), "Tue, 29 Feb 2000 00:00:00 +0000");
    EXPECT_EQ(displayDate(std::string_view("2026-12-31T23:59:60-12:00")),
              "Thu, 31 Dec 2026 23:59:60 -1200");
    for (const char* invalid : {"1900-02-29", "2025-02-29", "2026-04-31", "2026-13-01", "0000-01-01"})
        EXPECT_EQ(displayDate(std::string_view(invalid)), invalid);
}

TEST(AtomFeed, DescriptionComesFromContentElseSummaryByType) {
    const Feed feed = loaded("atom/content.xml");
    EXPECT_EQ(field(feed, &FeedItem::description),
              QStringList({"1 &lt; 2 &amp; &lt;i&gt;", "<p>Hello <b>world</b></p>",
                           "<p>Hi <em>there</em></p>", "<i>short</i>", "No Description",
                           "a &amp; b",
                           "<x:p class=\"a&amp;b\">1 &lt; 2<x:br/>&lt;i&gt;</x:p>",
                           "1 &amp; <p>one</p><p>two<br/></p>"}))
        << "an entry's fields start afresh; XHTML is written back as XML, CDATA as text";
}

TEST(AtomFeed, ACutOffEntryHasItsOpenMarkupClosed) {
    EXPECT_EQ(field(loaded("atom/cut-off-in-xhtml.xml"), &FeedItem::description),
              QStringList({"<p>One</p>",
                           "<p>Two <x:b xmlns:x=\"http://www.w3.org/1999/xhtml\">bold</x:b></p>"}));
}

TEST(AtomFeed, VersionZeroThreeAndAFeedWithoutNamespaceRead) {
    const Feed old = loaded("atom/atom03.xml");
    EXPECT_EQ(old.title, "Old &amp; gold");
    EXPECT_EQ(old.buildDate, "Sat, 01 May 2004 12:00:00 +0000");
    EXPECT_EQ(old.imageLink, "http://old.example/");
    EXPECT_EQ(field(old, &FeedItem::date), QStringList({"Fri, 30 Apr 2004 08:00:00 -0700", ""}));
    EXPECT_EQ(field(old, &FeedItem::description), QStringList({"<p>Escaped</p>", "<b>bold</b>"}));

    const Feed bare = loaded("atom/no-namespace.xml");
    EXPECT_EQ(bare.format, FeedFormat::Atom);
    EXPECT_EQ(field(bare, &FeedItem::link), QStringList({"http://bare.example/1"}));
    EXPECT_EQ(field(bare, &FeedItem::description), QStringList({"S"}));
}

TEST(JsonFeed, ItemsTakeTheirFallbacksAndPlainTextIsEscaped) {
    const Feed feed = loaded("json/feed.json");
    EXPECT_EQ(feed.format, FeedFormat::JsonFeed);
    EXPECT_EQ(feed.title, "Jay &amp; Son");
    EXPECT_EQ(feed.plainTitle, "Jay & Son");
    EXPECT_EQ(feed.imageUrl, "https://j.example/favicon.ico");
    EXPECT_EQ(feed.imageLink, "https://j.example/");
    EXPECT_EQ(field(feed, &FeedItem::title),
              QStringList({"First &lt;post&gt;", "", "Third &#8211; &amp; last"}))
        << "plain text, but the references that titles often carry show as characters";
    EXPECT_EQ(field(feed, &FeedItem::link),
              QStringList({"https://j.example/1", "https://elsewhere.example/2", "#"}));
    EXPECT_EQ(field(feed, &FeedItem::date),
              QStringList({"Sat, 05 Dec 2026 18:30:00 +0100", "Tue, 01 Dec 2026 00:00:00 +0000", ""}));
    EXPECT_EQ(field(feed, &FeedItem::description),
              QStringList({"<p>Hello</p>", "Short &amp; sweet", "No Description"}));
    EXPECT_EQ(loaded("json/feed.json", 2).items.size(), 2u);
    EXPECT_EQ(loaded("json/feed.json", 0).items.size(), 1u);

    const Feed text = loaded("json/content-text.json");
    EXPECT_EQ(text.imageUrl, "https://t.example/icon.png") << "the icon before the favicon";
    EXPECT_EQ(field(text, &FeedItem::description),
              QStringList({"1 &lt; 2 &amp; &lt;script&gt;x&lt;/script&gt;"}));

    EXPECT_EQ(read("json/other-json.json").status, FeedParseStatus::Failed)
        << "JSON without a jsonfeed.org version is no feed";
}

TEST(JsonFeed, MembersComeInAnyOrderAndOnlyTheModelsStringsAreRead) {
    const Feed feed = loaded("json/any-order.json");
    EXPECT_EQ(feed.title, "Escaped name") << "nested objects' members are not the feed's";
    EXPECT_EQ(field(feed, &FeedItem::title), QStringList({"One", "Two, again"}))
        << "a later member of the same name wins";
    EXPECT_EQ(field(feed, &FeedItem::link), QStringList({"https://o.example/1", "#"}))
        << "a number is no link";
    EXPECT_EQ(feed.items.front().description,
              QString::fromUtf8("caf\u00e9 \U0001F600 &quot;quoted&quot; a/b\tc"));
}

TEST(JsonFeed, TextThatIsNoJsonFailsWhereverItsDamageLies) {
    const QByteArray head = R"({"version": "https://jsonfeed.org/version/1.1", "items": [)";
    auto status = [](const QByteArray& text, int limit = 10) {
        FeedParseOptions options;
        options.articleLimit = limit;
        return parseFeed(text, options).status;
    };
    auto nested = [&](int depth) {
        return head + "{\"x\": " + QByteArray(depth, '[') + QByteArray(depth, ']') + "}]}";
    };
    EXPECT_EQ(status(nested(150)), FeedParseStatus::Loaded);
    EXPECT_EQ(status(nested(5000)), FeedParseStatus::Failed) << "nesting has a limit";
    for (const QByteArray& damaged :
         {head + "{}]} more", head + "{\"title\": \"cut", head + "{}, ]}", head + "{\"a\" 1}]}",
          head + "{\"n\": 1e}]}", head + "{\"t\": tru}]}", head + "{}]"})
        EXPECT_EQ(status(damaged), FeedParseStatus::Failed) << damaged.constData();
    EXPECT_EQ(status(head + "{}, {}, {\"t\": tru}]}", 1), FeedParseStatus::Failed)
        << "items past the limit are not kept, but still read";

    // A text is kept up to a limit (a few MB); the rest is read and dropped.
    const QByteArray huge = head + "{\"content_text\": \"" + QByteArray(5 << 20, 'x') + "\"}]}";
    FeedParseOptions options;
    const Feed big = parseFeed(huge, options).feed;
    ASSERT_EQ(big.items.size(), 1u);
    EXPECT_GE(big.items.front().description.size(), 1 << 20);
    EXPECT_LT(big.items.front().description.size(), 5 << 20);
}

TEST(JsonFeed, TextsHoldOnlyWhatAnXmlTextCan) {
    // JSON escapes reach characters no XML feed can carry; they become U+FFFD.
    const Feed feed = loaded("json/control-characters.json");
    EXPECT_EQ(feed.plainTitle, QString::fromUtf8("Nul\uFFFDl \uFFFD \U0001F600"));
    EXPECT_EQ(field(feed, &FeedItem::description),
              QStringList({QString::fromUtf8("<p>a\uFFFDb\uFFFDc\td</p>")}));
}

TEST(RssFeed, AnItemWithoutLinkTakesItsPermanentWebGuid) {
    EXPECT_EQ(field(loaded("rss/guid-link.xml"), &FeedItem::link),
              QStringList({"#", "http://g.example/1", "#", "http://g.example/link"}));
}

TEST(RssFeed, TheFirstElementOfEachFieldCounts) {
    const Feed feed = loaded("rss/first-fields.xml");
    EXPECT_EQ(feed.title, "Plain channel title") << "a plain title before a namespaced one";
    EXPECT_EQ(feed.buildDate, "First date");
    EXPECT_EQ(feed.imageUrl, "http://f.example/logo.png") << "the last image";
    EXPECT_EQ(feed.imageLink, "http://f.example/");
    EXPECT_EQ(field(feed, &FeedItem::title), QStringList({"", "Only namespaced"}))
        << "an empty plain title is still the title";
    EXPECT_EQ(field(feed, &FeedItem::description), QStringList({"One", "No Description"}));
    EXPECT_EQ(field(feed, &FeedItem::date), QStringList({"Mon, 07 Dec 2026", ""}));
    EXPECT_EQ(field(feed, &FeedItem::link), QStringList({"#", "http://f.example/guid"}))
        << "the first link is the one read, even when empty";
}

TEST(RssFeed, DamagedDocumentsAreReadAsReadersReadThem) {
    // Without items: recovery would not take these, the strict read must.
    EXPECT_EQ(loaded("rss/space-before-declaration.xml").title, "Leading space");
    EXPECT_EQ(loaded("rss/bom-and-space.xml").title, QString::fromUtf8("Mark then space café"));

    const Feed stray = loaded("rss/stray-ampersand.xml");
    EXPECT_EQ(stray.title, "Q&A");
    EXPECT_EQ(field(stray, &FeedItem::title), QStringList({"Fish & chips", "Second"}));
    EXPECT_EQ(field(stray, &FeedItem::link), QStringList({"http://s.example/?a=1&b=2", "#"}));

    const Feed cut = loaded("rss/cut-off.xml");
    EXPECT_EQ(cut.title, "Cut off");
    EXPECT_EQ(field(cut, &FeedItem::title).first(), "Whole");

    const FeedParseResult noItems = read("rss/cut-off-no-items.xml");
    EXPECT_EQ(noItems.status, FeedParseStatus::Failed) << "a recovered feed needs an item";
    EXPECT_FALSE(noItems.error.isEmpty());

    // The recovery read keeps the safety rules: no entity is expanded, nothing is read.
    const Feed entities = loaded("rss/cut-off-with-entities.xml");
    ASSERT_FALSE(entities.items.empty());
    const QString text = entities.items.front().title + entities.items.front().description;
    EXPECT_FALSE(text.contains("EXPANDED") || text.contains("root:")) << text.toStdString();

    const Feed cp1252 = loaded("rss/windows-1252-undeclared.xml");
    EXPECT_EQ(cp1252.title, QString::fromUtf8("Café “quoted”"));
    EXPECT_EQ(field(cp1252, &FeedItem::title), QStringList({QString::fromUtf8("€ sign")}));
    // A charset from the server still wins over the guess.
    EXPECT_EQ(read("rss/windows-1252-undeclared.xml", 10, QUrl(), "utf-8").feed.title,
              QString::fromUtf8("Caf\uFFFD \uFFFDquoted\uFFFD"));
}

TEST(RssFeed, ElementsInsideATextLeaveTheTextWhole) {
    // Elements inside a text add theirs to it; the text around them stays one.
    const Feed feed = loaded("rss/elements-in-texts.xml");
    EXPECT_EQ(field(feed, &FeedItem::title), QStringList({"ab"}));
    EXPECT_EQ(field(feed, &FeedItem::description), QStringList({"abcdefghijklmnopqrstuvwxyzdefghijklmnopqrstuvwxyz0123456789e"}));
}

TEST(RssFeed, ARecoveredDocumentWhoseEndsComeOutOfOrderIsReadSafely) {
    // A '<' inside an attribute value: libxml2's recovery then reports ends of elements
    // whose descendants never ended (found by fuzzing).
    const Feed feed = loaded("rss/tags-ended-out-of-order.xml");
    EXPECT_EQ(field(feed, &FeedItem::link), QStringList({"https://share.transistor.fm/s/59bf46b3"}));
}

TEST(RssFeed, OnlyTheListedItemsAreKeptWhateverTheDocumentHolds) {
    QByteArray xml = "<rss><channel><title>Many</title>";
    for (int i = 0; i < 2000; ++i)
        xml += "<item><title>" + QByteArray::number(i) + "</title><junk><x/></junk></item><y/>";
    xml += "</channel><item><title>outside</title></item></rss>";
    FeedParseOptions options;
    options.articleLimit = 3;
    EXPECT_EQ(field(parseFeed(xml, options).feed, &FeedItem::title),
              QStringList({"0", "1", "2"}));
    std::atomic<bool> cancel{true};
    options.cancel = &cancel;
    EXPECT_EQ(parseFeed(xml, options).status, FeedParseStatus::Cancelled);
}

TEST(NotAFeed, AnHtmlPageOrASitemapLoadsWithTheDefaults) {
    for (const char* file : {"other/html-page.html", "other/sitemap.xml"}) {
        const FeedParseResult result = read(file);
        EXPECT_EQ(result.status, FeedParseStatus::NotAFeed) << file;
        EXPECT_EQ(result.feed.format, FeedFormat::None);
        EXPECT_EQ(result.feed.title, "No Title");
        EXPECT_EQ(result.feed.plainTitle, "");
        EXPECT_TRUE(result.feed.items.empty());
    }
}

} // namespace
} // namespace quorvel
