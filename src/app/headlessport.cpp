#include "headlessport.h"

#include <QDir>

namespace quorvel {

namespace {

const QString kLineBreak = QStringLiteral(" | ");

bool isSpacing(char16_t c) {
    return c == u'\t' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

QString printableText(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        if (isSpacing(c.unicode()))
            c = QLatin1Char(' ');
        else if (isControl(c.unicode()))
            c = QChar::ReplacementCharacter;
    }
    return out;
}

void HeadlessPort::line(const QString& text) {
    std::fprintf(m_out, "%s\n", printableText(text).toLocal8Bit().constData());
    std::fflush(m_out);
}

void HeadlessPort::setTitle(const QString& title) {
    if (title != m_lastTitle)
        line(QStringLiteral("title: ") + title);
    m_lastTitle = title;
}

void HeadlessPort::setTrayTip(const QString& tipField) {
    QString tip = trayTipText(tipField);
    if (tip != m_lastTip)
        line(QStringLiteral("tip: ") + QString(tip).replace(QStringLiteral("\r\n"), kLineBreak));
    m_lastTip = tip;
}

void HeadlessPort::showPage(const QString&) {}

void HeadlessPort::fetchSummary(const FetchSummary& s) {
    line(QStringLiteral("feeds: %1 fetched, %2 unchanged, %3 from the cache, %4 failed; "
                        "%5 bytes received")
             .arg(s.fetched)
             .arg(s.unchanged)
             .arg(s.fromCache)
             .arg(s.failed)
             .arg(s.bytesReceived));
}

void HeadlessPort::openWithDesktop(const QString& path) {
    line(QStringLiteral("error log: ") + QDir::toNativeSeparators(QDir(path).absolutePath()));
}

MessageAnswer HeadlessPort::prompt(const Message& message) {
    QString text = message.text;
    text.replace(QStringLiteral("\r\n"), kLineBreak).replace(QLatin1Char('\n'), kLineBreak);
    line(message.title + QStringLiteral(": ") + text);
    return MessageAnswer::Ok;
}

} // namespace quorvel
