#pragma once

#include "store/feedlistview.h"

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace quorvel {

// The feed list operations' view of the feeds tab: the list widget `Feeds` and the entry
// fields. It owns none of the widgets.
class FeedListWidgetView : public FeedListView {
public:
    FeedListWidgetView(QListWidget* feeds, QLineEdit* newFeed, QLineEdit* numArticles,
                       QCheckBox* justHeadings, QCheckBox* feedDisabled);

    int rowCount() const override;
    int currentRow() const override;
    bool isRowSelected(int row) const override;
    QString rowText(int row) const override;
    void setRowText(int row, const QString& text) override;
    void appendRow(const QString& text) override;
    void insertRow(int row, const QString& text) override;
    void removeRow(int row) override;
    // Makes the row current and the only selected one.
    void setCurrentRow(int row) override;
    void clearRows() override;
    void repaint() override;

    QString newFeedText() const override;
    void setNewFeedText(const QString& text) override;
    QString numArticlesText() const override;
    bool justHeadings() const override;
    bool feedDisabled() const override;

private:
    QListWidget* m_feeds;
    QLineEdit* m_newFeed;
    QLineEdit* m_numArticles;
    QCheckBox* m_justHeadings;
    QCheckBox* m_feedDisabled;
};

} // namespace quorvel
