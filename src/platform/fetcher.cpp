#include "fetcher.h"

namespace quorvel {

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

} // namespace quorvel
