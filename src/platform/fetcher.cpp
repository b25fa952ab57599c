#include "fetcher.h"

#include <algorithm>

namespace quorvel {

std::unique_ptr<FetchBatch> Fetcher::start(const std::vector<FetchRequest>& requests) {
    QStringList urls;
    for (const FetchRequest& request : requests)
        urls << request.url;
    return start(urls);
}

FetchResult Fetcher::fetch(const QString& url) {
    auto batch = start(QStringList{url});
    return batch->take(0);
}

} // namespace quorvel

namespace quorvel {

QByteArray charsetOfContentType(const QByteArray& contentType) {
    for (const QByteArray& part : contentType.split(';')) {
        const QByteArray parameter = part.trimmed();
        if (!parameter.toLower().startsWith("charset="))
            continue;
        QByteArray value = parameter.mid(8).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value.trimmed();
    }
    return QByteArray();
}

namespace {
// Longer waits than this are cut to it, so that no value overflows the date arithmetic.
constexpr qint64 kYearSeconds = 366 * 24 * 3600;
} // namespace

std::optional<QDateTime> retryAfterTime(const QByteArray& value, const QDateTime& now) {
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? std::nullopt
                           : std::optional(now.addSecs(std::min<qint64>(seconds, kYearSeconds)));
    // An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"): Qt reads it as an RFC 2822 date once
    // the zone name is given as an offset.
    QString dateText = QString::fromLatin1(text);
    if (dateText.endsWith(QLatin1String(" GMT")) || dateText.endsWith(QLatin1String(" UTC")))
        dateText = dateText.chopped(3) + QLatin1String("+0000");
    const QDateTime date = QDateTime::fromString(dateText, Qt::RFC2822Date);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}

} // namespace quorvel
