#include "storeaccess.h"

#include <cmath>

#include <QUrl>

#include "platform/fetcher.h"

namespace quorvel {

XmlDocument loadXmlDocument(const QString& source, Fetcher* fetcher, QString* error) {
    // The store and OPML files are local and read here; any address with a scheme goes to
    // the fetcher, which takes http and https only.
    if (source.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return XmlDocument::fromFile(QUrl(source).toLocalFile(), error);
    if (!source.contains(QLatin1String("://")))
        return XmlDocument::fromFile(source, error);
    if (!fetcher) {
        if (error)
            *error = QStringLiteral("cannot load %1 without a fetcher").arg(source);
        return XmlDocument();
    }
    FetchResult result = fetcher->fetch(source);
    if (!result.ok) {
        if (error)
            *error = result.error;
        return XmlDocument();
    }
    return XmlDocument::parse(result.body, error, result.charset);
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
