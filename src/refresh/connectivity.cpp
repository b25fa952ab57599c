#include "connectivity.h"

#include <QDate>
#include <QLocale>

#include "platform/fetcher.h"
#include "refresh/readerport.h"

namespace quorvel {

QString probeUrl() {
    const QByteArray fromEnvironment = qgetenv("QUORVEL_PROBE_URL");
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
    return QStringLiteral("http://example.com/");
}

bool checkConnection(Fetcher& fetcher, ReaderPort& port, const QString& versionText,
                     const QString& probeAddress) {
    const FetchResult answer = fetcher.fetch(probeAddress);
    if (answer.ok)
        return !answer.body.isEmpty();
    port.setTitle(QStringLiteral("Quorvel RSS Reader - Offline ") + shortDateText() +
                  QStringLiteral(" v.") + dottedVersion(versionText));
    port.setTrayTip(QStringLiteral("Working Offline").leftJustified(64, QLatin1Char(' ')));
    return false;
}

QString dottedVersion(const QString& versionText) {
    QString dotted = versionText;
    dotted.replace(QLatin1Char('_'), QLatin1Char('.'));
    return dotted;
}

QString shortDateText() {
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

} // namespace quorvel
