// libFuzzer target: arbitrary bytes as a fetched feed of any format (parse, then the page markup in both
// forms and the page around it) and as a feed's HTML text (the sanitiser, on the input and
// on the items' texts). Besides what the sanitizers catch, it aborts when a produced text
// is not valid Unicode, when sanitised text still holds active content, and when sanitising
// a sanitised text changes it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include "feed/feedparser.h"
#include "refresh/htmlsanitizer.h"
#include "refresh/pagemarkup.h"

using namespace quorvel;

namespace {

[[noreturn]] void fail(const char* what, const QString& text) {
    std::fprintf(stderr, "feed_fuzzer: %s\n---\n%s\n---\n", what, qUtf8Printable(text));
    std::abort();
}

// A QString can hold lone surrogates, which UTF-8 cannot express: such text would reach
// the page file changed when it is written. Valid UTF-16 is exactly what converts to UTF-8
// and back without loss (comparing with fromUtf8(toUtf8()) instead would trip over the
// leading U+FEFF that fromUtf8 drops).
void checkUtf8(const char* what, const QString& text) {
    if (!text.isValidUtf16())
        fail(what, text);
}

// Elements the sanitiser must never let through, whatever the markup around them.
void checkNoActiveContent(const char* what, const QString& html) {
    static const char* const forbidden[] = {"<script", "<iframe", "<style", "<object",
                                            "<embed",  "<svg",    "<math",  "<form",
                                            "<frame",  "<meta",   "<link",  "<base"};
    for (const char* tag : forbidden)
        if (html.contains(QLatin1String(tag), Qt::CaseInsensitive))
            fail(what, html);
}

void checkSanitiser(const QString& text, const QUrl& base) {
    const QString once = sanitizeHtml(text, base);
    checkUtf8("sanitised text is not valid UTF-8", once);
    checkNoActiveContent("sanitised text holds active content", once);
    if (sanitizeHtml(once, base) != once)
        fail("sanitising the sanitised text changed it", once);
}

void checkMarkup(const Feed& feed, bool headingsOnly) {
    QString page;
    QString firstTitle;
    appendFeedMarkup(feed, headingsOnly, true, &page, &firstTitle,
                     QUrl(QStringLiteral("http://example.com/feed/")));
    checkUtf8("page markup is not valid UTF-8", page);
    checkUtf8("first item title is not valid UTF-8", firstTitle);
    checkNoActiveContent("page markup holds active content", page);
    const QString whole = pageSkeleton(QStringLiteral("<style>p{}</style>"), page);
    checkUtf8("page is not valid UTF-8", whole);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // The input's length, not one of its bytes, picks the HTTP charset the feed came with
    // and the sanitiser's base URL, so that the corpus files stay the feeds they are.
    static const QByteArray charsets[] = {QByteArray(), QByteArray("iso-8859-1"),
                                          QByteArray("utf-8"), QByteArray("windows-1252")};
    FeedParseOptions options;
    options.httpCharset = charsets[size % 4];
    // Relative URLs are kept as they are without a base and resolved with one.
    const QUrl base = size % 2 ? QUrl(QStringLiteral("http://example.com/feed/")) : QUrl();
    options.address = base;
    const FeedParseResult parsed = parseFeed(bytes, options);
    checkUtf8("parse error text is not valid UTF-8", parsed.error);
    if (parsed.status != FeedParseStatus::Failed) {
        checkMarkup(parsed.feed, false);
        checkMarkup(parsed.feed, true);
        // The texts the page sanitises, one by one: feeds carry their HTML escaped, so the
        // mutations inside it reach the sanitiser as markup here.
        for (const FeedItem& item : parsed.feed.items) {
            checkSanitiser(item.title, base);
            checkSanitiser(item.description, base);
        }
    }
    checkSanitiser(QString::fromUtf8(bytes), base);
    return 0;
}
