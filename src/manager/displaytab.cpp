#include "displaytab.h"

#include <array>
#include <utility>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/managercontrols.h"
#include "store/feedstore.h"
#include "store/prompter.h"

namespace quorvel {

namespace {

// Each group of controls beside the settings it shows.
constexpr std::array kStyleGroups = {
    std::pair{&StyleControls::heading, &DisplaySettings::heading},
    std::pair{&StyleControls::body, &DisplaySettings::body},
    std::pair{&StyleControls::date, &DisplaySettings::date},
    std::pair{&StyleControls::link, &DisplaySettings::link},
    std::pair{&StyleControls::hover, &DisplaySettings::hover},
    std::pair{&StyleControls::visited, &DisplaySettings::visited},
};

// Refilling a combo must not change the value it shows.
void fillKeepingText(QComboBox* list, const QStringList& items) {
    const QString text = list->currentText();
    list->clear();
    list->addItems(items);
    list->setEditText(text);
}

} // namespace

DisplayTab::DisplayTab(const FeedStore& store, Prompter& prompter, QWidget* parent)
    : QWidget(parent), m_store(store), m_prompter(prompter),
      m_colourChooser(dialogColourChooser()) {
    setObjectName(QStringLiteral("displaySettings"));

    // One row of a style group: font and size (when the group has them), colour, bold,
    // italic, starting at column, with the column captions in the row above.
    auto styleRow = [this](QGridLayout* grid, int row, int column, const QString& prefix,
                           bool withFont) {
        StyleGroupControls group;
        auto add = [&](const QString& title, QWidget* control) {
            grid->addWidget(caption(title), row - 1, column);
            grid->addWidget(control, row, column++);
        };
        if (withFont) {
            group.font = editableCombo(prefix + QStringLiteral("_font"), 1815);
            group.font->setEditText(QStringLiteral("Arial"));
            add(QStringLiteral("Font"), group.font);
            group.size = editableCombo(prefix + QStringLiteral("_size"), 855);
            add(QStringLiteral("Size"), group.size);
        }
        group.colour = colourBox(prefix + QStringLiteral("_colour"));
        add(QStringLiteral("Colour"), group.colour);
        group.bold = checkBox(prefix + QStringLiteral("_bold"), QStringLiteral("Bold"));
        add(QStringLiteral("Bold"), group.bold);
        group.italic = checkBox(prefix + QStringLiteral("_italic"), QStringLiteral("Italic"));
        add(QStringLiteral("Italic"), group.italic);
        return group;
    };

    auto* groups = new QGridLayout;
    const std::tuple<QString, QString, StyleGroupControls StyleControls::*> sections[] = {
        {QStringLiteral("   Heading"), QStringLiteral("heading"), &StyleControls::heading},
        {QStringLiteral("   Article"), QStringLiteral("body"), &StyleControls::body},
        {QStringLiteral("   Date"), QStringLiteral("date"), &StyleControls::date},
        {QStringLiteral("   Link"), QStringLiteral("link"), &StyleControls::link},
    };
    int row = 0;
    for (const auto& [title, prefix, member] : sections) {
        groups->addWidget(caption(title), row, 0, 1, 5);
        m_styles.*member = styleRow(groups, row + 2, 0, prefix, true);
        groups->setRowMinimumHeight(row + 3, px(240));
        row += 4;
    }

    auto* linkStates = new QGridLayout;
    linkStates->addWidget(caption(QStringLiteral("   Link Hover")), 0, 0, 1, 3);
    m_styles.hover = styleRow(linkStates, 2, 0, QStringLiteral("hover"), false);
    linkStates->setColumnMinimumWidth(3, px(240));
    linkStates->addWidget(caption(QStringLiteral("   Link Visited")), 0, 4, 1, 3);
    m_styles.visited = styleRow(linkStates, 2, 4, QStringLiteral("visited"), false);
    linkStates->setColumnStretch(7, 1);

    m_setMinCheck = checkBox(QStringLiteral("setMinCheck"), QStringLiteral("Start Minimized"));
    m_trans = named(new QLineEdit, QStringLiteral("trans"));
    m_trans->setMinimumWidth(px(1575));
    m_readerRefresh = editableCombo(QStringLiteral("readerRefresh"), 1695);
    m_background = colourBox(QStringLiteral("bg_colour"));
    auto* startMinimised = new QHBoxLayout;
    startMinimised->addWidget(caption(QStringLiteral("Start Minimized")));
    startMinimised->addWidget(m_setMinCheck);
    startMinimised->addStretch();
    auto* reader = new QGridLayout;
    reader->addWidget(caption(QStringLiteral("  Background")), 0, 0);
    reader->addWidget(caption(QStringLiteral("Colour")), 1, 0);
    reader->addWidget(m_background, 2, 0);
    reader->addLayout(startMinimised, 1, 1);
    reader->addWidget(caption(QStringLiteral("Transparency (1 - 255)")), 2, 1);
    reader->addWidget(m_trans, 3, 1);
    reader->addWidget(caption(QStringLiteral("Refresh")), 1, 2);
    reader->addWidget(m_readerRefresh, 2, 2);
    reader->setColumnStretch(3, 1);

    auto* done = button(QStringLiteral("Done"), QStringLiteral("display_done"), 1335);
    auto* cancel = button(QStringLiteral("Cancel"), QStringLiteral("display_cancel"), 1335);
    auto* buttons = new QHBoxLayout;
    buttons->addSpacing(px(1560));
    buttons->addWidget(done);
    buttons->addSpacing(px(3720 - 1560 - 1335));
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addLayout(linkStates);
    layout->addSpacing(px(240));
    layout->addLayout(reader);
    layout->addSpacing(px(360));
    layout->addLayout(buttons);
    layout->addStretch();

    connect(done, &QPushButton::clicked, this, &DisplayTab::onDoneClicked);
    connect(cancel, &QPushButton::clicked, this, &DisplayTab::cancelClicked);
}

void DisplayTab::setColourChooser(ColourChooser chooser) {
    m_colourChooser = std::move(chooser);
}

QLineEdit* DisplayTab::colourBox(const QString& name) {
    auto* box = named(new QLineEdit, name);
    box->setMinimumWidth(px(1575));
    box->setToolTip(QStringLiteral("Click to choose a colour"));
    box->installEventFilter(this);
    return box;
}

void DisplayTab::fillChoices() {
    fillKeepingText(m_readerRefresh, refreshChoices());
    if (m_fontFamilies.isEmpty()) {
        m_fontFamilies = QFontDatabase::families();
        m_fontFamilies.sort(Qt::CaseInsensitive);
    }
    for (const auto& [controls, values] : kStyleGroups) {
        const StyleGroupControls& group = m_styles.*controls;
        if (group.size)
            fillKeepingText(group.size, sizeChoices());
        if (group.font)
            fillKeepingText(group.font, m_fontFamilies);
    }
}

void DisplayTab::showSettings(const DisplaySettings& settings) {
    for (const auto& [controls, values] : kStyleGroups) {
        const StyleGroupControls& group = m_styles.*controls;
        const StyleGroup& value = settings.*values;
        if (group.font)
            group.font->setEditText(value.font);
        if (group.size)
            group.size->setEditText(value.size);
        group.colour->setText(value.colour);
        group.bold->setChecked(value.bold);
        group.italic->setChecked(value.italic);
    }
    m_background->setText(settings.background);
    m_readerRefresh->setEditText(settings.refreshMinutes);
    m_trans->setText(settings.trans);
    m_setMinCheck->setChecked(settings.startMinimised);
    m_loaded = true;
}

void DisplayTab::forgetSettings() {
    m_loaded = false;
}

DisplaySettings DisplayTab::settings() const {
    DisplaySettings settings;
    for (const auto& [controls, values] : kStyleGroups) {
        const StyleGroupControls& group = m_styles.*controls;
        StyleGroup& value = settings.*values;
        if (group.font)
            value.font = group.font->currentText();
        if (group.size)
            value.size = group.size->currentText();
        value.colour = group.colour->text();
        value.bold = group.bold->isChecked();
        value.italic = group.italic->isChecked();
    }
    settings.background = m_background->text();
    settings.refreshMinutes = m_readerRefresh->currentText();
    settings.trans = m_trans->text();
    settings.startMinimised = m_setMinCheck->isChecked();
    return settings;
}

void DisplayTab::onDoneClicked() {
    if (!isAcceptedTransparency(m_trans->text())) {
        m_prompter.prompt(Message{kProgramTitle,
                                  QStringLiteral("The transparency should be between 1 and 255"),
                                  MessageButtons::Ok, MessageIcon::Exclamation});
        m_trans->setFocus();
        return;
    }
    const std::optional<int> interval =
        refreshMillisecondsFromMinutes(m_readerRefresh->currentText());
    if (!interval) {
        tellError(QStringLiteral("The refresh interval should be a number of minutes greater "
                                 "than 0"));
        m_readerRefresh->setFocus();
        return;
    }
    const QString path = QDir::toNativeSeparators(m_store.storePath());
    if (!m_loaded) {
        tellError(QStringLiteral("The display settings were not read from %1, so they are not "
                                 "saved. Close this window and open it again.")
                      .arg(path));
        return;
    }
    QString error;
    if (!saveDisplaySettings(m_store, settings(), &error)) {
        tellError(QStringLiteral("The display settings could not be saved to %1: %2\n\nThe "
                                 "window stays open with your changes.")
                      .arg(path, error));
        return;
    }
    Q_EMIT saved(*interval);
}

void DisplayTab::tellError(const QString& text) {
    m_prompter.prompt(
        Message{QStringLiteral("Error"), text, MessageButtons::Ok, MessageIcon::Exclamation});
}

bool DisplayTab::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        if (auto* box = qobject_cast<QLineEdit*>(watched))
            box->setText(pickColour(box->text(), m_colourChooser, this));
    return QWidget::eventFilter(watched, event);
}

} // namespace quorvel
