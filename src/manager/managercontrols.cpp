#include "managercontrols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace quorvel {

QLabel* caption(const QString& text, const QString& name) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

QPushButton* button(const QString& text, const QString& name, int widthTwips) {
    auto* result = named(new QPushButton(text), name);
    result->setMinimumWidth(px(widthTwips));
    return result;
}

QCheckBox* checkBox(const QString& name, const QString& accessibleName) {
    auto* box = named(new QCheckBox, name);
    box->setAccessibleName(accessibleName);
    return box;
}

QComboBox* editableCombo(const QString& name, int widthTwips) {
    auto* combo = named(new QComboBox, name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMinimumWidth(px(widthTwips));
    return combo;
}

} // namespace quorvel
