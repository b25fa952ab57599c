#pragma once

#include <QObject>
#include <QPointer>

namespace quorvel {

class FeedStore;
class ManagerWindow;
class Prompter;
class ReaderWindow;

// Joins the manager window to the reader window. The reader's "RSS Manager" opens one manager
// at a time, made afresh at each opening so that it shows the store as it is now (a second
// request brings the open one forward); it deletes itself when closed. The manager's refresh
// and timer requests go to the reader, and each of its rows shows what the reader's last
// refresh found for that feed, following the refreshes that end while it is open. Exit in the
// reader closes it.
class ManagerLink : public QObject {
    Q_OBJECT

public:
    // All three must outlive the link; the reader's "RSS Manager" is enabled from now on.
    ManagerLink(ReaderWindow& reader, const FeedStore& store, Prompter& prompter);
    // Deletes the manager that is still open.
    ~ManagerLink() override;

    // Opens the manager, or raises and activates the one already open.
    void openManager();
    // The open manager, or null.
    ManagerWindow* manager() const;

private:
    void raiseReader();

    ReaderWindow& m_reader;
    const FeedStore& m_store;
    Prompter& m_prompter;
    QPointer<ManagerWindow> m_manager;
};

} // namespace quorvel
