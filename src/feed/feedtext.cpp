#include "feedtext.h"

#include <QDate>
#include <QRegularExpression>

namespace quorvel {

QString escapeHtmlText(const QString& text) {
    return text.toHtmlEscaped();
}

QString escapeHtmlTextKeepingReferences(const QString& text) {
    static const QRegularExpression escapedReference(
        QStringLiteral("&amp;(#[0-9]{1,7};|#[xX][0-9a-fA-F]{1,6};|[A-Za-z][A-Za-z0-9]{1,31};)"));
    QString escaped = escapeHtmlText(text);
    if (escaped.contains(QLatin1String("&amp;")))
        escaped.replace(escapedReference, QStringLiteral("&\\1"));
    return escaped;
}

QString displayDate(const QString& rfc3339) {
    static const QRegularExpression form(QStringLiteral(
        R"(^\s*(\d{4})-(\d{2})-(\d{2})(?:[Tt ](\d{2}):(\d{2})(?::(\d{2})(?:[.,]\d+)?)?)?)"
        R"(\s*(?:([Zz]|UTC|GMT)|([+-])(\d{2}):?(\d{2}))?\s*$)"));
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QRegularExpressionMatch m = form.match(rfc3339);
    const QDate date = m.hasMatch() ? QDate(m.captured(1).toInt(), m.captured(2).toInt(),
                                            m.captured(3).toInt())
                                    : QDate();
    const int hour = m.captured(4).toInt(), minute = m.captured(5).toInt(),
              second = m.captured(6).toInt();
    if (!date.isValid() || hour > 23 || minute > 59 || second > 60)
        return escapeHtmlText(rfc3339.trimmed());
    const QString offset = m.captured(8).isEmpty()
                               ? QStringLiteral("+0000")
                               : m.captured(8) + m.captured(9) + m.captured(10);
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7 %8")
        .arg(QLatin1String(days[date.dayOfWeek() - 1]))
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(months[date.month() - 1]))
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(hour, 2, 10, QLatin1Char('0'))
        .arg(minute, 2, 10, QLatin1Char('0'))
        .arg(second, 2, 10, QLatin1Char('0'))
        .arg(offset);
}

} // namespace quorvel
