#include "refresh/readerport.h"

namespace quorvel {

QString trayTipText(const QString& tipField) {
    QString text = tipField.left(tipField.indexOf(QChar(0)) >= 0 ? tipField.indexOf(QChar(0))
                                                                 : tipField.size());
    text.truncate(64);
    // The tip field is padded with spaces on the original platform; they show as nothing.
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

} // namespace quorvel
