#include "feedparser.h"

#include <cctype>

#include "feed/jsonfeedreader.h"
#include "feed/xmlfeedreader.h"
#include "platform/xmldocument.h"

namespace quorvel {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The document without the white space that some servers put before the XML declaration,
// where the XML rules allow none (a byte-order mark stays in front).
QByteArray withoutSpaceBeforeDeclaration(const QByteArray& body) {
    const qsizetype bom = body.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    qsizetype at = bom;
    while (at < body.size() && isSpace(body[at]))
        ++at;
    if (at == bom || body.mid(at, 5) != "<?xml")
        return body;
    return body.left(bom) + body.mid(at);
}

// The first character that is neither white space nor a byte-order mark.
char firstSignificant(const QByteArray& body) {
    qsizetype at = body.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < body.size() && isSpace(body[at]))
        ++at;
    return at < body.size() ? body[at] : '\0';
}

// The document with every '&' that starts no reference written as "&amp;": the commonest
// damage of hand-made feeds, which recovery mode alone would cut the text at.
QByteArray withStrayAmpersandsEscaped(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size() + 64);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out.append(bytes[i]);
        if (bytes[i] != '&')
            continue;
        qsizetype j = i + 1;
        if (j < bytes.size() && bytes[j] == '#')
            ++j;
        while (j < bytes.size() && j - i < 40 &&
               (std::isalnum(static_cast<unsigned char>(bytes[j])) || bytes[j] == '_' ||
                bytes[j] == '-' || bytes[j] == '.'))
            ++j;
        if (j == i + 1 || j >= bytes.size() || bytes[j] != ';')
            out.append("amp;");
    }
    return out;
}

bool isCancelled(const FeedParseOptions& options) {
    return options.cancel != nullptr && options.cancel->load();
}

} // namespace

FeedParseResult parseFeed(const QByteArray& body, const FeedParseOptions& options) {
    FeedParseResult result;
    if (firstSignificant(body) == '{') {
        if (std::optional<Feed> feed = readJsonFeed(body, options.articleLimit)) {
            result.status = FeedParseStatus::Loaded;
            result.feed = std::move(*feed);
            return result;
        }
        result.error = QStringLiteral("not a feed: JSON that is no JSON Feed");
        return result;
    }

    const QByteArray bytes = withoutSpaceBeforeDeclaration(body);
    XmlParseOptions xml;
    xml.httpCharset = options.httpCharset;
    xml.guessWindows1252 = true;
    XmlFeedReader strict(options.articleLimit, options.address, options.cancel);
    if (XmlDocument::stream(bytes, xml, &strict, &result.error)) {
        result.feed = strict.takeFeed();
        result.status = result.feed.format == FeedFormat::None ? FeedParseStatus::NotAFeed
                                                               : FeedParseStatus::Loaded;
        result.error.clear();
        return result;
    }
    if (isCancelled(options)) {
        result.status = FeedParseStatus::Cancelled;
        return result;
    }

    // What most readers show of a damaged document: as much as libxml2 recovers, when
    // that is a feed with items.
    XmlFeedReader recovered(options.articleLimit, options.address, options.cancel);
    xml.recover = true;
    const bool read = XmlDocument::stream(withStrayAmpersandsEscaped(bytes), xml, &recovered);
    if (isCancelled(options)) {
        result.status = FeedParseStatus::Cancelled;
        return result;
    }
    if (!read)
        return result;
    if (recovered.hasFeedElement() && recovered.itemsSeen() > 0) {
        result.feed = recovered.takeFeed();
        result.status = FeedParseStatus::Loaded;
        result.error.clear();
    }
    return result;
}

} // namespace quorvel
