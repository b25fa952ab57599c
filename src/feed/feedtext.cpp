#include "feedtext.h"

#include <QRegularExpression>

namespace quorvel {

QString escapeHtmlText(const QString& text) {
    // Most texts hold none of the characters toHtmlEscaped replaces: those are returned
    // shared, not copied.
    for (const QChar c : text)
        if (c == u'<' || c == u'>' || c == u'&' || c == u'"')
            return text.toHtmlEscaped();
    return text;
}

QString escapeHtmlTextKeepingReferences(const QString& text) {
    static const QRegularExpression escapedReference(
        QStringLiteral("&amp;(#[0-9]{1,7};|#[xX][0-9a-fA-F]{1,6};|[A-Za-z][A-Za-z0-9]{1,31};)"));
    QString escaped = escapeHtmlText(text);
    if (escaped.contains(QLatin1String("&amp;")))
        escaped.replace(escapedReference, QStringLiteral("&\\1"));
    return escaped;
}

namespace {

// Reads `count` digits at *at into *value; false when they are not all there.
template <typename Text>
bool readDigits(const Text& text, qsizetype* at, int count, int* value) {
    int number = 0;
    for (int i = 0; i < count; ++i, ++*at) {
        if (*at >= qsizetype(text.size()) || text[*at] < u'0' || text[*at] > u'9')
            return false;
        number = number * 10 + (text[*at] - u'0');
    }
    *value = number;
    return true;
}

template <typename Text>
bool skip(const Text& text, qsizetype* at, char16_t c) {
    if (*at < qsizetype(text.size()) && text[*at] == c) {
        ++*at;
        return true;
    }
    return false;
}

// Computed here: QDate goes through its calendar system for each date, at many times
// the cost of the rest of the conversion.
bool isValidDate(int year, int month, int day) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// 0 for Sunday to 6 for Saturday, in the Gregorian calendar.
int dayOfWeek(int year, int month, int day) {
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        --year;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

// The date written as RSS writes dates, or an empty string when the text is no RFC 3339
// date-time. Text: a view whose characters compare with char16_t (UTF-16 or ASCII).
template <typename Text>
QString rssDate(const Text& text) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const qsizetype size = qsizetype(text.size());
    qsizetype at = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offsetHours = 0,
        offsetMinutes = 0;
    char16_t sign = u'+';
    bool ok = readDigits(text, &at, 4, &year) && skip(text, &at, u'-') &&
              readDigits(text, &at, 2, &month) && skip(text, &at, u'-') &&
              readDigits(text, &at, 2, &day);
    if (ok && at < size && (text[at] == u'T' || text[at] == u't' || text[at] == u' ')) {
        ++at;
        ok = readDigits(text, &at, 2, &hour) && skip(text, &at, u':') &&
             readDigits(text, &at, 2, &minute);
        if (ok && skip(text, &at, u':')) {
            ok = readDigits(text, &at, 2, &second);
            if (ok && (skip(text, &at, u'.') || skip(text, &at, u','))) {
                while (at < size && text[at] >= u'0' && text[at] <= u'9')
                    ++at;
            }
        }
        while (ok && at < size && text[at] == u' ')
            ++at;
        if (ok && at < size) {
            const Text zone = text.substr(std::size_t(at));
            auto zoneIs = [&](const char* name) {
                qsizetype i = 0;
                for (; name[i] != 0; ++i)
                    if (i >= qsizetype(zone.size()) || zone[i] != char16_t(name[i]))
                        return false;
                return i == qsizetype(zone.size());
            };
            if (zoneIs("Z") || zoneIs("z") || zoneIs("UTC") || zoneIs("GMT")) {
                at = size;
            } else if (text[at] == u'+' || text[at] == u'-') {
                sign = char16_t(text[at++]);
                ok = readDigits(text, &at, 2, &offsetHours);
                skip(text, &at, u':');
                ok = ok && readDigits(text, &at, 2, &offsetMinutes);
            }
        }
    }
    if (!ok || at != size || !isValidDate(year, month, day) || hour > 23 || minute > 59 ||
        second > 60 || offsetHours > 23 || offsetMinutes > 59)
        return QString();
    // Written by hand: every number has its fixed width here, and printf would cost more
    // than the rest of the conversion.
    char16_t out[31];
    char16_t* at16 = out;
    auto put = [&](const char* text) {
        while (*text)
            *at16++ = char16_t(*text++);
    };
    auto number = [&](int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            at16[i] = char16_t(u'0' + value % 10);
        at16 += width;
    };
    put(days[dayOfWeek(year, month, day)]);
    put(", ");
    number(day, 2);
    *at16++ = u' ';
    put(months[month - 1]);
    *at16++ = u' ';
    number(year, 4);
    *at16++ = u' ';
    number(hour, 2);
    *at16++ = u':';
    number(minute, 2);
    *at16++ = u':';
    number(second, 2);
    *at16++ = u' ';
    *at16++ = sign;
    number(offsetHours, 2);
    number(offsetMinutes, 2);
    return QString(reinterpret_cast<const QChar*>(out), at16 - out);
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

QString displayDate(const QString& rfc3339) {
    const QString text = rfc3339.trimmed();
    const QString date = rssDate(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())));
    return date.isEmpty() ? escapeHtmlText(text) : date;
}

QString displayDate(std::string_view utf8) {
    for (const char c : utf8)
        if (static_cast<unsigned char>(c) >= 0x80) // other white space than ASCII's to trim
            return displayDate(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    while (!utf8.empty() && isXmlSpace(utf8.front()))
        utf8.remove_prefix(1);
    while (!utf8.empty() && isXmlSpace(utf8.back()))
        utf8.remove_suffix(1);
    const QString date = rssDate(utf8);
    return date.isEmpty() ? escapeHtmlText(QString::fromLatin1(utf8.data(), qsizetype(utf8.size())))
                          : date;
}

} // namespace quorvel
