#include "storeaccess.h"

#include <cmath>

#include <QUrl>

#include "platform/fetcher.h"

namespace quorvel {

namespace {

bool isRemote(const QString& source) {
    return source.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           source.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

} // namespace

XmlDocument loadXmlDocument(const QString& source, Fetcher* fetcher, QString* error) {
    if (fetcher && (isRemote(source) || source.contains(QLatin1String("://")))) {
        FetchResult result = fetcher->fetch(source);
        if (!result.ok) {
            if (error)
                *error = result.error;
            return XmlDocument();
        }
        return XmlDocument::parse(result.body, error, result.charset);
    }
    if (source.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
        return XmlDocument::fromFile(QUrl(source).toLocalFile(), error);
    return XmlDocument::fromFile(source, error);
}

bool isWebAddress(const QString& url) {
    const QUrl parsed(url.trimmed());
    const QString scheme = parsed.scheme();
    return parsed.isValid() && !parsed.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

std::vector<XmlNode> queryNodes(const XmlDocument& document, const QString& xpath) {
    if (document.isNull())
        return {};
    return document.selectNodes(xpath);
}

QString nodeTextOr(const XmlNode& node, const QString& fallback) {
    return node.isNull() ? fallback : node.text();
}

void releaseStore(XmlDocument& document) {
    document = XmlDocument();
}

bool readBooleanText(const QString& text, bool* ok) {
    const QString t = text.trimmed();
    *ok = true;
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = t.toDouble(&isNumber);
    if (isNumber && std::isfinite(number))
        return number != 0.0;
    *ok = false;
    return false;
}

qint64 readWholeNumber(const QString& text, qint64 minimum, qint64 maximum, bool* ok) {
    bool parsed = false;
    const qint64 value = text.trimmed().toLongLong(&parsed, 10);
    *ok = parsed && value >= minimum && value <= maximum;
    return *ok ? value : 0;
}

} // namespace quorvel
