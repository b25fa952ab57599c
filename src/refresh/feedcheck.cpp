#include "feedcheck.h"

#include <QRegularExpression>
#include <QUrl>

#include "feed/feedparser.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

// The transport failures people meet most, in their words; anything else keeps the
// fetcher's text.
QString transportReason(const FetchResult& fetched) {
    if (fetched.httpStatus != 0)
        return QStringLiteral("HTTP %1").arg(fetched.httpStatus);
    const QString& error = fetched.error;
    if (error.contains(QLatin1String("Couldn't connect"), Qt::CaseInsensitive))
        return QStringLiteral("refused");
    if (error.contains(QLatin1String("Timeout"), Qt::CaseInsensitive))
        return QStringLiteral("timed out");
    if (error.contains(QLatin1String("resolve host"), Qt::CaseInsensitive))
        return QStringLiteral("host not found");
    return error;
}

// The value of one attribute inside a start tag's text; empty when absent.
QString attribute(const QString& tag, const QString& name) {
    const QRegularExpression pattern(
        QStringLiteral("\\s%1\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))").arg(name),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(tag);
    if (!match.hasMatch())
        return QString();
    for (int group = 1; group <= 3; ++group)
        if (match.capturedStart(group) >= 0)
            return match.captured(group).trimmed();
    return QString();
}

// The feeds an HTML page announces in its <link rel="alternate"> tags, in page order.
QStringList announcedFeeds(const QByteArray& page, const QString& pageUrl) {
    static const QRegularExpression linkTag(QStringLiteral("<link\\b[^>]*>"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QStringList feedTypes = {
        QStringLiteral("application/rss+xml"), QStringLiteral("application/atom+xml"),
        QStringLiteral("application/feed+json"), QStringLiteral("application/json")};
    QStringList feeds;
    const QString text = QString::fromUtf8(page);
    for (auto it = linkTag.globalMatch(text); it.hasNext();) {
        const QString tag = it.next().captured();
        const QStringList rel =
            attribute(tag, QStringLiteral("rel")).toLower().split(QLatin1Char(' '));
        const QString type = attribute(tag, QStringLiteral("type")).toLower();
        const QString href = attribute(tag, QStringLiteral("href"));
        if (!rel.contains(QLatin1String("alternate")) || !feedTypes.contains(type) ||
            href.isEmpty())
            continue;
        const QString resolved = QUrl(pageUrl).resolved(QUrl(href)).toString();
        if (isWebAddress(resolved) && !feeds.contains(resolved))
            feeds << resolved;
    }
    return feeds;
}

bool looksLikeHtml(const QByteArray& body) {
    const QByteArray head = body.left(4096).toLower();
    return head.contains("<html") || head.contains("<!doctype html") || head.contains("<head");
}

} // namespace

FeedCheck checkFetchedFeed(const FetchResult& fetched, const QString& url) {
    const QString address = fetched.finalUrl.isEmpty() ? url : fetched.finalUrl;
    FeedParseResult parsed;
    if (fetched.ok) {
        FeedParseOptions options;
        // Enough to count what people read; the parse keeps no more than this.
        options.articleLimit = 1000;
        options.httpCharset = fetched.charset;
        options.address = QUrl(address);
        parsed = parseFeed(fetched.body, options);
    }
    FeedCheck check = checkParsedFeed(fetched, parsed);
    if (fetched.ok && !check.ok && looksLikeHtml(fetched.body))
        check.feeds = announcedFeeds(fetched.body, address);
    return check;
}

FeedCheck checkParsedFeed(const FetchResult& fetched, const FeedParseResult& parsed) {
    FeedCheck check;
    if (!fetched.ok) {
        check.reason = transportReason(fetched);
        return check;
    }
    if (parsed.status == FeedParseStatus::Loaded) {
        check.ok = true;
        check.title = parsed.feed.plainTitle;
        check.items = static_cast<int>(parsed.feed.items.size());
        return check;
    }
    if (looksLikeHtml(fetched.body))
        check.reason = QStringLiteral("a web page, not a feed");
    else
        check.reason = parsed.status == FeedParseStatus::NotAFeed
                           ? QStringLiteral("not a feed")
                           : QStringLiteral("not well-formed");
    return check;
}

QString feedCheckSummary(const FeedCheck& check) {
    if (!check.ok)
        return QStringLiteral("Failed: %1").arg(check.reason);
    const QString loaded = QStringLiteral("loaded with %1 items").arg(check.items);
    return check.title.isEmpty() ? QStringLiteral("Loaded with %1 items").arg(check.items)
                                 : check.title + QStringLiteral(": ") + loaded;
}

} // namespace quorvel
