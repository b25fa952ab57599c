#include "app/managerlink.h"

#include "manager/managerwindow.h"
#include "reader/readerwindow.h"

namespace quorvel {

ManagerLink::ManagerLink(ReaderWindow& reader, const FeedStore& store, Prompter& prompter)
    : m_reader(reader), m_store(store), m_prompter(prompter) {
    m_reader.setManagerAvailable(true);
    connect(&m_reader, &ReaderWindow::managerRequested, this, &ManagerLink::openManager);
    connect(&m_reader, &ReaderWindow::exitRequested, this, [this] {
        if (m_manager)
            m_manager->close();
    });
}

ManagerLink::~ManagerLink() { delete m_manager; }

ManagerWindow* ManagerLink::manager() const { return m_manager; }

void ManagerLink::openManager() {
    if (m_manager) {
        m_manager->raise();
        m_manager->activateWindow();
        return;
    }
    m_manager = new ManagerWindow(m_store, m_prompter);
    m_manager->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_manager, &ManagerWindow::refreshRequested, &m_reader, &ReaderWindow::requestRefresh);
    connect(m_manager, &ManagerWindow::refreshTimerStopRequested, &m_reader,
            &ReaderWindow::stopRefreshTimer);
    connect(m_manager, &ManagerWindow::refreshTimerRestartRequested, &m_reader,
            &ReaderWindow::startRefreshTimer);
    connect(m_manager, &ManagerWindow::raiseReaderRequested, this, &ManagerLink::raiseReader);
    m_manager->showFeedOutcomes(m_reader.feedOutcomes());
    ManagerWindow* const manager = m_manager;
    connect(&m_reader, &ReaderWindow::feedOutcomesChanged, manager,
            [this, manager] { manager->showFeedOutcomes(m_reader.feedOutcomes()); });
    m_manager->openWindow();
}

// Brought forward, not restored: a reader hidden in the tray stays there.
void ManagerLink::raiseReader() {
    if (m_reader.isVisible()) {
        m_reader.raise();
        m_reader.activateWindow();
    }
}

} // namespace quorvel
