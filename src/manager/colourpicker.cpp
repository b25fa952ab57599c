#include "colourpicker.h"

#include <QColorDialog>
#include <QRegularExpression>

namespace quorvel {

namespace {

QColor colourOfNumber(quint32 number) {
    return QColor(number & 0xFF, (number >> 8) & 0xFF, (number >> 16) & 0xFF);
}

quint32 numberOfColour(const QColor& colour) {
    return quint32(colour.red()) | (quint32(colour.green()) << 8) | (quint32(colour.blue()) << 16);
}

} // namespace

ColourChooser dialogColourChooser() {
    return [](const std::optional<QColor>& preset, QWidget* parent) -> std::optional<QColor> {
        const QColor chosen = preset ? QColorDialog::getColor(*preset, parent)
                                     : QColorDialog::getColor(Qt::white, parent);
        return chosen.isValid() ? std::optional<QColor>(chosen) : std::nullopt;
    };
}

quint32 hexToColour(const QString& digits, bool* ok) {
    const QString rgb = digits.left(6).leftJustified(6, QLatin1Char('0'));
    // The number reads the bytes the other way round: blue, green, red.
    const QString bgr = rgb.mid(4, 2) + rgb.mid(2, 2) + rgb.mid(0, 2);
    bool parsed = false;
    const quint32 number = bgr.toUInt(&parsed, 16);
    if (ok)
        *ok = parsed;
    return parsed ? number : 0;
}

QString colourToHex(quint32 colourNumber) {
    const QString bgr =
        QString::number(colourNumber & 0xFFFFFF, 16).toUpper().rightJustified(6, QLatin1Char('0'));
    return bgr.mid(4, 2) + bgr.mid(2, 2) + bgr.mid(0, 2);
}

QString pickColour(const QString& current, const ColourChooser& chooser, QWidget* parent) {
    static const QRegularExpression colourText(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    const bool holdsColour = colourText.match(current).hasMatch();
    std::optional<QColor> preset;
    if (holdsColour)
        preset = colourOfNumber(hexToColour(current.mid(1)));
    const std::optional<QColor> chosen = chooser(preset, parent);
    if (!chosen || !chosen->isValid())
        return holdsColour ? current.toUpper() : current;
    return QLatin1Char('#') + colourToHex(numberOfColour(*chosen));
}

} // namespace quorvel
