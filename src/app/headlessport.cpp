#include "headlessport.h"

#include <QDir>

namespace quorvel {

void HeadlessPort::line(const QString& text) {
    std::fprintf(m_out, "%s\n", text.toLocal8Bit().constData());
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
        line(QStringLiteral("tip: ") +
             QString(tip).replace(QStringLiteral("\r\n"), QStringLiteral(" | ")));
    m_lastTip = tip;
}

void HeadlessPort::showPage(const QString&) {}

void HeadlessPort::openWithDesktop(const QString& path) {
    line(QStringLiteral("error log: ") + QDir::toNativeSeparators(QDir(path).absolutePath()));
}

MessageAnswer HeadlessPort::prompt(const Message& message) {
    line(message.title + QStringLiteral(": ") + message.text);
    return MessageAnswer::Ok;
}

} // namespace quorvel
