#include "feedlistview.h"

namespace quorvel {

QString feedListRow(const QString& url, const QString& countText, bool headingsOnly,
                    bool disabled) {
    QString row = url + QStringLiteral(" | ") + countText;
    if (headingsOnly)
        row += QStringLiteral(" | H");
    if (disabled)
        row += QStringLiteral(" | D");
    return row;
}

} // namespace quorvel
