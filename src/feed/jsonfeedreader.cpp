#include "jsonfeedreader.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "feed/feedtext.h"

namespace quorvel {

namespace {

// The text with what no XML text can hold (NUL and the other C0 controls but tab, line
// feed and carriage return; lone surrogates, U+FFFE, U+FFFF), which JSON escapes can
// carry, replaced by U+FFFD: every format's texts reach the page alike.
QString asXmlText(QString text) {
    // Read through a const pointer: writing through operator[] would copy a shared string
    // before anything is known to need replacing.
    const QChar* data = std::as_const(text).constData();
    QChar* writable = nullptr; // the string's own copy, made at the first replacement
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = data[i].unicode();
        const bool pairStart = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                               QChar::isLowSurrogate(data[i + 1].unicode());
        if (pairStart) {
            ++i;
            continue;
        }
        if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || QChar::isSurrogate(c) ||
            c == 0xFFFE || c == 0xFFFF) {
            if (writable == nullptr)
                data = writable = text.data();
            writable[i] = QChar(QChar::ReplacementCharacter);
        }
    }
    return text;
}

// The first member of the list that is a non-empty string.
QString firstString(const QJsonObject& object, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const QString value = object.value(QLatin1String(name)).toString().trimmed();
        if (!value.isEmpty())
            return asXmlText(value);
    }
    return QString();
}

} // namespace

std::optional<Feed> readJsonFeed(const QByteArray& text, int articleLimit) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QString version = root.value(QLatin1String("version")).toString();
    if (!version.startsWith(QLatin1String("https://jsonfeed.org/version/")) &&
        !version.startsWith(QLatin1String("http://jsonfeed.org/version/")))
        return std::nullopt;

    Feed feed;
    feed.format = FeedFormat::JsonFeed;
    const QString title = firstString(root, {"title"});
    feed.plainTitle = title.isEmpty() ? QStringLiteral("No Title") : title;
    feed.title = title.isEmpty() ? feed.plainTitle : escapeHtmlTextKeepingReferences(title);
    feed.imageUrl = firstString(root, {"icon", "favicon"});
    const QString home = firstString(root, {"home_page_url"});
    if (!home.isEmpty())
        feed.imageLink = home;

    const QJsonArray items = root.value(QLatin1String("items")).toArray();
    const qsizetype limit = std::max(articleLimit, 1);
    for (const QJsonValue& value : items) {
        if (qsizetype(feed.items.size()) >= limit)
            break;
        const QJsonObject object = value.toObject();
        FeedItem item;
        item.title = escapeHtmlTextKeepingReferences(firstString(object, {"title"}));
        const QString link = firstString(object, {"url", "external_url"});
        if (!link.isEmpty())
            item.link = link;
        const QString date = firstString(object, {"date_published", "date_modified"});
        if (!date.isEmpty())
            item.date = displayDate(date);
        const QString html = firstString(object, {"content_html"});
        const QString plain = firstString(object, {"content_text", "summary"});
        if (!html.isEmpty())
            item.description = html;
        else if (!plain.isEmpty())
            item.description = escapeHtmlText(plain);
        feed.items.push_back(std::move(item));
    }
    return feed;
}

} // namespace quorvel
