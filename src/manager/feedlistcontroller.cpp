#include "feedlistcontroller.h"

#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>

#include "manager/managercontrols.h"
#include "platform/curlfetcher.h"
#include "store/feedstore.h"
#include "store/prompter.h"

namespace quorvel {

FeedListController::FeedListController(const FeedStore& store, Prompter& prompter,
                                       FeedListControls controls, QObject* parent)
    : QObject(parent), m_store(store), m_prompter(prompter), m_controls(controls),
      m_storeWaitMs(kStoreWaitMs),
      m_fetcherFactory([] { return std::make_unique<CurlFetcher>(); }) {
    // A click on the current row changes no current row, so both signals are needed.
    connect(m_controls.feeds, &QListWidget::itemClicked, this, &FeedListController::showCurrentRow);
    connect(m_controls.feeds, &QListWidget::currentRowChanged, this,
            &FeedListController::showCurrentRow);
}

void FeedListController::setStoreWaitMs(int milliseconds) {
    m_storeWaitMs = milliseconds;
}

void FeedListController::setFetcherFactory(FetcherFactory factory) {
    m_fetcherFactory = std::move(factory);
}

void FeedListController::showRows(const QStringList& rows) {
    m_applying = true;
    m_controls.feeds->clear();
    m_controls.feeds->addItems(rows);
    m_applying = false;
    decorateRows();
}

void FeedListController::appendRows(const QStringList& rows) {
    m_controls.feeds->addItems(rows);
    decorateRows();
}

void FeedListController::showFeedCheck(const QString& url, const FeedCheck& check) {
    showFeedOutcomes({FeedOutcome{url, check}});
}

void FeedListController::showFeedOutcomes(const FeedOutcomes& outcomes) {
    for (const FeedOutcome& outcome : outcomes)
        m_checks.insert(outcome.url, outcome.check);
    decorateRows();
}

void FeedListController::checkAddress(const QString& url) {
    auto* job = new FeedCheckJob(m_fetcherFactory(), url, this);
    connect(job, &FeedCheckJob::finished, this,
            [this, job](const QString& checked, const FeedCheck& check) {
                job->deleteLater();
                onChecked(checked, check);
            });
    m_controls.checkStatus->setText(QStringLiteral("Checking %1 ...").arg(url));
    m_controls.checkStatus->show();
    job->start();
}

void FeedListController::onChecked(const QString& url, const FeedCheck& check) {
    m_controls.checkStatus->setText(url + QStringLiteral("\n") + feedCheckSummary(check));
    showFeedCheck(url, check);
    // A window closed meanwhile asks nothing: the user has moved on.
    if (!check.feeds.isEmpty() && m_controls.feeds->isVisible())
        offerAnnouncedFeeds(url, check.feeds);
}

void FeedListController::offerAnnouncedFeeds(const QString& url, const QStringList& feeds) {
    for (const QString& feed : feeds) {
        const Message offer{
            kProgramTitle,
            QStringLiteral("%1 is a web page, not a feed. It announces the feed\n%2\n\nUse the "
                           "feed's address instead?")
                .arg(url, feed),
            MessageButtons::OkCancel, MessageIcon::Information};
        if (m_prompter.prompt(offer) != MessageAnswer::Ok)
            continue;
        // The row may have moved, or gone, while the page was fetched.
        for (int row = 0; row < m_controls.feeds->count(); ++row) {
            std::optional<FeedEntry> entry = parseFeedListRow(m_controls.feeds->item(row)->text());
            if (!entry || entry->url != url)
                continue;
            entry->url = feed;
            if (apply(editFeeds(m_store, m_controls.feeds->count(), {row}, *entry, m_storeWaitMs)))
                checkAddress(feed);
            return;
        }
        return;
    }
}

void FeedListController::decorate(QListWidgetItem* item) const {
    const std::optional<FeedEntry> entry = parseFeedListRow(item->text());
    const auto check = entry ? m_checks.constFind(entry->url) : m_checks.constEnd();
    if (check == m_checks.constEnd()) {
        item->setToolTip(entry ? entry->url + QStringLiteral("\nNot loaded yet") : QString());
        item->setIcon(QIcon());
        return;
    }
    item->setToolTip(entry->url + QStringLiteral("\n") + feedCheckSummary(*check));
    item->setIcon(check->ok ? QIcon()
                            : QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

void FeedListController::decorateRows() {
    for (int row = 0; row < m_controls.feeds->count(); ++row)
        decorate(m_controls.feeds->item(row));
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
    const FeedEntry entry = typedEntry();
    if (!apply(addFeed(m_store, m_controls.feeds->count(), entry, m_storeWaitMs)))
        return;
    checkAddress(entry.url);
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
    const QString before = m_controls.feeds->item(rows.front())->text();
    if (!apply(editFeeds(m_store, m_controls.feeds->count(), rows, entry, m_storeWaitMs)))
        return;
    if (rows.size() == 1 && parseFeedListRow(before).value_or(FeedEntry{}).url != entry.url)
        checkAddress(entry.url);
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
    decorateRows();
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
