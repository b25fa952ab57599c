#include "badfeedlog.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTime>

#include "platform/atomicfile.h"
#include "refresh/connectivity.h"
#include "store/errorsink.h"
#include "store/feedstore.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

// The system's time format with seconds, without a time zone.
QString timeText() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale::system().toString(QTime::currentTime(), format.trimmed());
}

} // namespace

bool logBadFeed(const FeedStore& store, int feedIndex) {
    QString error;
    const XmlDocument document = store.load(&error);
    if (document.isNull()) {
        errorSink(error, 0, QStringLiteral("logBadFeed"));
        return false;
    }
    const std::vector<XmlNode> feeds = queryNodes(document, QStringLiteral("//feed"));
    if (feedIndex < 0 || feedIndex >= static_cast<int>(feeds.size())) {
        errorSink(QStringLiteral("no feed entry at position %1").arg(feedIndex), 0,
                  QStringLiteral("logBadFeed"));
        return false;
    }
    const QString url = feeds[feedIndex].getAttribute(QStringLiteral("url")).value_or(QString());

    QFile log(store.errorLogPath());
    const bool isNew = !log.exists();
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        errorSink(log.errorString(), 0, QStringLiteral("logBadFeed: ") + log.fileName());
        return false;
    }
    QByteArray lines;
    if (isNew)
        lines += QByteArray(kErrorLogHeading) + "\r\n";
    lines += (shortDateText() + QLatin1Char('-') + timeText() + QLatin1Char(' ') + url).toUtf8();
    lines += "\r\n";
    if (log.write(lines) != lines.size() || !log.flush()) {
        errorSink(log.errorString(), 0, QStringLiteral("logBadFeed: ") + log.fileName());
        return false;
    }
    return true;
}

bool writeTextFile(const QString& path, const QString& text, bool withBom, QString* error) {
    QByteArray bytes = text.toUtf8();
    if (withBom)
        bytes.prepend("\xEF\xBB\xBF");
    return writeFileAtomically(path, bytes, error);
}

} // namespace quorvel
