#include "feedcheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include "platform/xmldocument.h"
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

// An HTML page: its root is html, or it does not parse as XML but reads like HTML.
bool isWebPage(const XmlDocument& document, const QByteArray& body) {
    if (!document.isNull())
        return document.documentElement().name().compare(QLatin1String("html"),
                                                         Qt::CaseInsensitive) == 0;
    return looksLikeHtml(body);
}

FeedCheck checkJsonFeed(const QByteArray& body) {
    FeedCheck check;
    const QJsonObject feed = QJsonDocument::fromJson(body).object();
    if (!feed.value(QStringLiteral("version")).toString().contains(QLatin1String("jsonfeed"))) {
        check.reason = QStringLiteral("not a feed");
        return check;
    }
    check.ok = true;
    check.title = feed.value(QStringLiteral("title")).toString();
    check.items = static_cast<int>(feed.value(QStringLiteral("items")).toArray().size());
    return check;
}

} // namespace

FeedCheck checkFetchedFeed(const FetchResult& fetched, const QString& url) {
    if (fetched.ok && fetched.body.trimmed().startsWith('{'))
        return checkJsonFeed(fetched.body);
    const XmlDocument document =
        fetched.ok ? XmlDocument::parse(fetched.body, nullptr, fetched.charset) : XmlDocument();
    FeedCheck check = checkParsedFeed(fetched, document);
    if (fetched.ok && isWebPage(document, fetched.body))
        check.feeds =
            announcedFeeds(fetched.body, fetched.finalUrl.isEmpty() ? url : fetched.finalUrl);
    return check;
}

FeedCheck checkParsedFeed(const FetchResult& fetched, const XmlDocument& document) {
    FeedCheck check;
    if (!fetched.ok) {
        check.reason = transportReason(fetched);
        return check;
    }
    const QString root = document.isNull() ? QString() : document.documentElement().name();
    if (root == QLatin1String("rss") || root.endsWith(QLatin1String("RDF"))) {
        check.ok = true;
        const XmlNode top = document.documentElement();
        const XmlNode channel = top.firstChildElement(QStringLiteral("channel"));
        check.title =
            channel.isNull()
                ? QString()
                : nodeTextOr(channel.firstChildElement(QStringLiteral("title")), QString());
        check.items = static_cast<int>(document.selectNodes(QStringLiteral("//item")).size());
        return check;
    }
    if (root == QLatin1String("feed")) {
        check.ok = true;
        const XmlNode top = document.documentElement();
        check.title = nodeTextOr(top.firstChildElement(QStringLiteral("title")), QString());
        check.items = static_cast<int>(top.childElements(QStringLiteral("entry")).size());
        return check;
    }
    if (isWebPage(document, fetched.body))
        check.reason = QStringLiteral("a web page, not a feed");
    else
        check.reason =
            document.isNull() ? QStringLiteral("not well-formed") : QStringLiteral("not a feed");
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
