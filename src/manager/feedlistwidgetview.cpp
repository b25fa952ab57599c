#include "feedlistwidgetview.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>

namespace quorvel {

FeedListWidgetView::FeedListWidgetView(QListWidget* feeds, QLineEdit* newFeed,
                                       QLineEdit* numArticles, QCheckBox* justHeadings,
                                       QCheckBox* feedDisabled)
    : m_feeds(feeds), m_newFeed(newFeed), m_numArticles(numArticles), m_justHeadings(justHeadings),
      m_feedDisabled(feedDisabled) {}

int FeedListWidgetView::rowCount() const {
    return m_feeds->count();
}

int FeedListWidgetView::currentRow() const {
    return m_feeds->currentRow();
}

bool FeedListWidgetView::isRowSelected(int row) const {
    const QListWidgetItem* item = m_feeds->item(row);
    return item && item->isSelected();
}

QString FeedListWidgetView::rowText(int row) const {
    const QListWidgetItem* item = m_feeds->item(row);
    return item ? item->text() : QString();
}

void FeedListWidgetView::setRowText(int row, const QString& text) {
    if (QListWidgetItem* item = m_feeds->item(row))
        item->setText(text);
}

void FeedListWidgetView::appendRow(const QString& text) {
    m_feeds->addItem(text);
}

void FeedListWidgetView::insertRow(int row, const QString& text) {
    m_feeds->insertItem(row, text);
}

void FeedListWidgetView::removeRow(int row) {
    delete m_feeds->takeItem(row);
}

void FeedListWidgetView::setCurrentRow(int row) {
    m_feeds->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void FeedListWidgetView::clearRows() {
    m_feeds->clear();
}

void FeedListWidgetView::repaint() {
    m_feeds->viewport()->update();
}

QString FeedListWidgetView::newFeedText() const {
    return m_newFeed->text();
}

void FeedListWidgetView::setNewFeedText(const QString& text) {
    m_newFeed->setText(text);
}

QString FeedListWidgetView::numArticlesText() const {
    return m_numArticles->text();
}

bool FeedListWidgetView::justHeadings() const {
    return m_justHeadings->isChecked();
}

bool FeedListWidgetView::feedDisabled() const {
    return m_feedDisabled->isChecked();
}

} // namespace quorvel
