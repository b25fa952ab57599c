#pragma once

#include <QString>

namespace quorvel {

// What the feed list operations need of the manager's feeds tab: the list of rows (row i
// stands for the store's i-th feed entry) and the entry fields. The window's list widget
// implements it; tests use a fake.
class FeedListView {
public:
    virtual ~FeedListView() = default;

    virtual int rowCount() const = 0;
    virtual int currentRow() const = 0; // -1 when there is none
    virtual bool isRowSelected(int row) const = 0;
    virtual QString rowText(int row) const = 0;
    virtual void setRowText(int row, const QString& text) = 0;
    virtual void appendRow(const QString& text) = 0;
    virtual void insertRow(int row, const QString& text) = 0;
    virtual void removeRow(int row) = 0;
    virtual void setCurrentRow(int row) = 0;
    virtual void clearRows() = 0;
    virtual void repaint() {}

    virtual QString newFeedText() const = 0;
    virtual void setNewFeedText(const QString& text) = 0;
    virtual QString numArticlesText() const = 0;
    virtual bool justHeadings() const = 0;
    virtual bool feedDisabled() const = 0;
};

// One row of the feed list: url " | " count, then " | H" when headings only, then " | D"
// when disabled.
QString feedListRow(const QString& url, const QString& countText, bool headingsOnly, bool disabled);

} // namespace quorvel
