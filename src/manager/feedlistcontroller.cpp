#include "feedlistcontroller.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "store/feedstore.h"
#include "store/prompter.h"

namespace quorvel {

FeedListController::FeedListController(const FeedStore& store, Prompter& prompter,
                                       FeedListControls controls, QObject* parent)
    : QObject(parent), m_store(store), m_prompter(prompter), m_controls(controls),
      m_storeWaitMs(kStoreWaitMs) {
    // A click on the current row changes no current row, so both signals are needed.
    connect(m_controls.feeds, &QListWidget::itemClicked, this, &FeedListController::showCurrentRow);
    connect(m_controls.feeds, &QListWidget::currentRowChanged, this,
            &FeedListController::showCurrentRow);
}

void FeedListController::setStoreWaitMs(int milliseconds) {
    m_storeWaitMs = milliseconds;
}

void FeedListController::showRows(const QStringList& rows) {
    m_applying = true;
    m_controls.feeds->clear();
    m_controls.feeds->addItems(rows);
    m_applying = false;
}

void FeedListController::appendRows(const QStringList& rows) {
    m_controls.feeds->addItems(rows);
}

void FeedListController::add() {
    if (m_controls.newFeed->text().trimmed().isEmpty()) {
        tellError(QStringLiteral("Please type in a valid RSS URL"));
        return;
    }
    if (m_controls.numArticles->text().trimmed().isEmpty()) {
        tellError(QStringLiteral("Please include the number of articles you would like to "
                                 "include (Default 10)"));
        return;
    }
    // On a failure the typed entry stays, so the user can try again without retyping.
    if (!apply(addFeed(m_store, m_controls.feeds->count(), typedEntry(), m_storeWaitMs)))
        return;
    m_controls.newFeed->clear();
    m_controls.justHeadings->setChecked(false);
    m_controls.feedDisabled->setChecked(false);
    m_controls.newFeed->setFocus();
}

void FeedListController::editSelected() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        tellError(QStringLiteral("Please select a feed to edit"));
        clearEntryFields();
        return;
    }
    FeedEntry entry = typedEntry();
    if (rows.size() == 1) {
        if (m_controls.newFeed->text().trimmed().isEmpty()) {
            tellError(QStringLiteral("Please type in a valid RSS URL"));
            return;
        }
        m_controls.newFeed->setText(entry.url);
    }
    if (!apply(editFeeds(m_store, m_controls.feeds->count(), rows, entry, m_storeWaitMs)))
        return;
    // The rewritten rows are left unselected, so the next Edit needs a fresh choice.
    m_controls.feeds->clearSelection();
    clearEntryFields();
}

void FeedListController::deleteSelected() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        tellError(QStringLiteral("Please select a feed to remove"));
        return;
    }
    apply(deleteFeeds(m_store, m_controls.feeds->count(), rows, m_storeWaitMs));
}

void FeedListController::moveCurrent(int step) {
    apply(moveFeed(m_store, m_controls.feeds->count(), m_controls.feeds->currentRow(), step,
                   m_storeWaitMs));
}

void FeedListController::showCurrentRow() {
    if (m_applying)
        return;
    const QListWidgetItem* item = m_controls.feeds->currentItem();
    if (!item)
        return;
    const std::optional<FeedEntry> entry = parseFeedListRow(item->text());
    if (!entry)
        return;
    m_controls.newFeed->setText(entry->url);
    m_controls.numArticles->setText(entry->countText);
    m_controls.justHeadings->setChecked(entry->headingsOnly);
    m_controls.feedDisabled->setChecked(entry->disabled);
    m_controls.edit->setEnabled(true);
}

bool FeedListController::apply(const FeedListChange& change) {
    QListWidget* feeds = m_controls.feeds;
    m_applying = true;
    if (change.refill) {
        feeds->clear();
        feeds->addItems(*change.refill);
    }
    for (int row : change.removed)
        delete feeds->takeItem(row);
    for (const auto& [row, text] : change.rewritten)
        if (QListWidgetItem* item = feeds->item(row))
            item->setText(text);
    feeds->addItems(change.appended);
    // The moved row becomes the only selected one: a row left selected behind it would be
    // taken along by the next Delete or Edit.
    if (change.current >= 0)
        feeds->setCurrentRow(change.current, QItemSelectionModel::ClearAndSelect);
    m_applying = false;
    if (change.current >= 0)
        showCurrentRow();
    if (!change.ok && !change.error.isEmpty())
        tellError(change.error);
    return change.ok;
}

std::vector<int> FeedListController::selectedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < m_controls.feeds->count(); ++row)
        if (m_controls.feeds->item(row)->isSelected())
            rows.push_back(row);
    return rows;
}

FeedEntry FeedListController::typedEntry() const {
    return FeedEntry{withUrlScheme(m_controls.newFeed->text()), m_controls.numArticles->text(),
                     m_controls.justHeadings->isChecked(), m_controls.feedDisabled->isChecked()};
}

void FeedListController::clearEntryFields() {
    m_controls.newFeed->clear();
    m_controls.numArticles->setText(QStringLiteral("10"));
    m_controls.justHeadings->setChecked(false);
    m_controls.newFeed->setFocus();
}

void FeedListController::tellError(const QString& text) {
    m_prompter.prompt(
        Message{QStringLiteral("Error"), text, MessageButtons::Ok, MessageIcon::Exclamation});
}

} // namespace quorvel
