#include "managerwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "manager/displaytab.h"
#include "manager/managercontrols.h"
#include "store/displaysettings.h"
#include "store/feedstore.h"
#include "store/prompter.h"

namespace quorvel {

namespace {

// The refresh interval an OPML import leaves in force: two hours.
constexpr int kImportedRefreshMs = 7200000;

// The smallest the window may be made: every control stays reachable by scrolling.
constexpr QSize kMinimumSize(320, 240);

// A tab's page in a scroll area, so that a small screen scrolls it instead of cutting it off.
QScrollArea* scrolling(QWidget* page) {
    auto* area = new QScrollArea;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    return area;
}

} // namespace

ManagerWindow::ManagerWindow(const FeedStore& store, Prompter& prompter, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(store), m_prompter(prompter),
      m_storeWaitMs(kStoreWaitMs) {
    setObjectName(QStringLiteral("rssEditor"));
    setWindowTitle(QStringLiteral("Quorvel RSS Feed Manager"));
    m_feedsTab = new FeedsTab(store, prompter);
    m_displayTab = new DisplayTab(store, prompter);
    m_settings = named(new QTabWidget, QStringLiteral("settings"));
    m_settings->addTab(scrolling(m_feedsTab), QStringLiteral("Feeds"));
    m_settings->addTab(scrolling(m_displayTab), QStringLiteral("Display"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_settings);
    setMinimumSize(kMinimumSize);

    connect(m_feedsTab, &FeedsTab::doneClicked, this, [this] {
        closeSkippingRefresh();
        Q_EMIT refreshRequested();
    });
    connect(m_feedsTab, &FeedsTab::cancelClicked, this, &ManagerWindow::closeSkippingRefresh);
    connect(m_feedsTab, &FeedsTab::imported, this,
            [this] { restartRefreshTimer(kImportedRefreshMs); });
    connect(m_displayTab, &DisplayTab::saved, this, [this](int intervalMs) {
        restartRefreshTimer(intervalMs);
        closeSkippingRefresh();
        Q_EMIT refreshRequested();
    });
    connect(m_displayTab, &DisplayTab::cancelClicked, this, &ManagerWindow::closeSkippingRefresh);
}

ManagerWindow::~ManagerWindow() = default;

void ManagerWindow::setColourChooser(ColourChooser chooser) {
    m_displayTab->setColourChooser(std::move(chooser));
}

void ManagerWindow::setFileChooser(FileChooser chooser) {
    m_feedsTab->setOpenFileChooser(std::move(chooser));
}

void ManagerWindow::setSaveFileChooser(FileChooser chooser) {
    m_feedsTab->setSaveFileChooser(std::move(chooser));
}

void ManagerWindow::setFetcherFactory(FetcherFactory factory) {
    m_feedsTab->setFetcherFactory(std::move(factory));
}

void ManagerWindow::setStoreWaitMs(int milliseconds) {
    m_storeWaitMs = milliseconds;
    m_feedsTab->setStoreWaitMs(milliseconds);
}

void ManagerWindow::showFeedCheck(const QString& url, const FeedCheck& check) {
    m_feedsTab->showFeedCheck(url, check);
}

void ManagerWindow::showFeedOutcomes(const FeedOutcomes& outcomes) {
    m_feedsTab->showFeedOutcomes(outcomes);
}

void ManagerWindow::openWindow() {
    if (!isVisible()) {
        // The drawn size, or what the pages ask for, but never more than the work area
        // leaves beside the window frame; the pages scroll in what remains.
        const QSize pages = m_feedsTab->sizeHint().expandedTo(m_displayTab->sizeHint());
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        const QSize chrome(40 + bar, 40 + m_settings->tabBar()->sizeHint().height());
        QSize wanted = QSize(px(6735), px(8940)).expandedTo(pages + chrome);
        if (const QScreen* screen = this->screen()) {
            const QSize frame = frameGeometry().size() - geometry().size();
            const QSize room = screen->availableGeometry().size() - frame.expandedTo({8, 32});
            wanted = wanted.boundedTo(room).expandedTo(minimumSize());
        }
        resize(wanted);
    }
    m_settings->setCurrentIndex(0);
    show();
    raise();
    activateWindow();
    // Filled after showing, so that a message about the store appears over the window.
    loadManagerSettings();
}

void ManagerWindow::loadManagerSettings() {
    m_displayTab->fillChoices();
    m_displayTab->forgetSettings();
    const QString path = QDir::toNativeSeparators(m_store.storePath());
    if (!waitUntilStoreFree(m_store, m_storeWaitMs)) {
        m_feedsTab->showFeeds({});
        tellError(QStringLiteral("The feed store %1 is being written elsewhere and did not become "
                                 "free within %2 seconds.\n\nThe window opens empty; close it "
                                 "and open it again to edit the feeds and the display.")
                      .arg(path)
                      .arg(m_storeWaitMs / 1000.0));
        return;
    }
    ManagerContents contents;
    QString error;
    if (!readManagerContents(m_store, &contents, &error)) {
        m_feedsTab->showFeeds({});
        tellError(QStringLiteral("The feed store %1 could not be read: %2\n\nThe window opens "
                                 "empty.")
                      .arg(path, error));
        return;
    }
    m_feedsTab->showFeeds(contents.feedRows);
    m_displayTab->showSettings(contents.display);
    if (!contents.problems.isEmpty())
        tellError(QStringLiteral("Some values in the feed store %1 could not be read:\n\n- %2\n\n"
                                 "The window shows what could be read. \"Done\" on the Display "
                                 "tab writes the display values as they are shown.")
                      .arg(path, contents.problems.join(QStringLiteral("\n- "))));
}

void ManagerWindow::restartRefreshTimer(int intervalMs) {
    Q_EMIT refreshTimerStopRequested();
    Q_EMIT refreshTimerRestartRequested(intervalMs);
}

void ManagerWindow::tellError(const QString& text) {
    m_prompter.prompt(
        Message{QStringLiteral("Error"), text, MessageButtons::Ok, MessageIcon::Exclamation});
}

void ManagerWindow::closeSkippingRefresh() {
    m_skipRefresh = true;
    close();
}

void ManagerWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!m_skipRefresh)
        Q_EMIT refreshRequested();
    m_skipRefresh = false;
    Q_EMIT raiseReaderRequested();
}

} // namespace quorvel
