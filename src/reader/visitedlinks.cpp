#include "visitedlinks.h"

#include <QFile>

#include "platform/atomicfile.h"

namespace quorvel {

VisitedLinks::VisitedLinks(QString path) : m_path(std::move(path)) {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Read no more than a full file can hold, so a huge file planted there costs nothing.
    const QByteArray bytes = file.read(qint64(maxEntries) * (maxUrlLength + 1));
    for (const QByteArray& line : bytes.split('\n')) {
        const QString text = QString::fromUtf8(line.trimmed());
        if (text.isEmpty() || text.size() > maxUrlLength || m_set.contains(text))
            continue;
        m_order << text;
        m_set.insert(text);
    }
    while (m_order.size() > maxEntries)
        m_set.remove(m_order.takeFirst());
}

QString VisitedLinks::key(const QUrl& url) {
    return QString::fromUtf8(url.adjusted(QUrl::RemoveFragment).toEncoded());
}

bool VisitedLinks::add(const QUrl& url, QString* error) {
    const QString text = key(url);
    if (text.isEmpty() || text.size() > maxUrlLength || text.contains(QLatin1Char('\n')))
        return true;
    if (m_set.contains(text))
        m_order.removeOne(text);
    m_order << text;
    m_set.insert(text);
    while (m_order.size() > maxEntries)
        m_set.remove(m_order.takeFirst());
    return writeFileAtomically(m_path, (m_order.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(),
                               error);
}

} // namespace quorvel
