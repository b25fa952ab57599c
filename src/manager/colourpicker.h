#pragma once

#include <functional>
#include <optional>

#include <QColor>
#include <QString>

class QWidget;

namespace quorvel {

// Asks the user for a colour, opening at preset when there is one; nullopt when cancelled.
using ColourChooser =
    std::function<std::optional<QColor>(const std::optional<QColor>& preset, QWidget* parent)>;

// The modal QColorDialog.
ColourChooser dialogColourChooser();

// The colour number (0x00BBGGRR) of six hexadecimal digits red, green, blue: a shorter text is
// padded with "0" at its end, characters after the sixth are ignored. *ok is false (and the
// result 0) when the digits are not hexadecimal.
quint32 hexToColour(const QString& digits, bool* ok = nullptr);

// Six upper-case hexadecimal digits red, green, blue of a colour number 0x00BBGGRR.
QString colourToHex(quint32 colourNumber);

// Lets the user choose a colour for a colour box holding current. A box holding "#" and six
// hexadecimal digits opens the chooser at that colour, any other text opens it without one.
// Returns the chosen colour as "#RRGGBB" in upper case; on cancel, current as it was
// (upper-cased when it held a colour).
QString pickColour(const QString& current, const ColourChooser& chooser, QWidget* parent = nullptr);

} // namespace quorvel
