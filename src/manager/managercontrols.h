#pragma once

#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace quorvel {

// The layout was drawn in twips; 15 twips make one device-independent pixel.
constexpr int px(int twips) {
    return twips / 15;
}

// Messages without a title of their own carry the program's name.
inline const QString kProgramTitle = QStringLiteral("Quorvel RSS Reader");

// The widget with its objectName set.
template <typename W> W* named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// A plain-text label (plain text keeps the leading spaces of the section captions).
QLabel* caption(const QString& text, const QString& name = QString());
QPushButton* button(const QString& text, const QString& name, int widthTwips);
QCheckBox* checkBox(const QString& name, const QString& accessibleName);
QComboBox* editableCombo(const QString& name, int widthTwips);

} // namespace quorvel
