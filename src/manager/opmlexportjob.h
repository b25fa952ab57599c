#pragma once

#include <memory>

#include <QObject>
#include <QString>

class QThread;

namespace quorvel {

class CancellableFetcher;
class FeedStore;
class Fetcher;

// One OPML export off the window thread: takes the enabled feeds' titles from the feed
// cache or, for feeds it holds no copy of, looks them up through its fetcher, then writes
// the file in one piece. Its signals arrive on the thread that made it.
class OpmlExportJob : public QObject {
    Q_OBJECT

public:
    // store must outlive the job.
    OpmlExportJob(const FeedStore& store, std::unique_ptr<Fetcher> fetcher, QString target,
                  QObject* parent = nullptr);
    // Cancels a run still going and waits for it to end.
    ~OpmlExportJob() override;

    void start();
    // Stops the look-ups; a cancelled job writes nothing and finishes with cancelled true.
    void cancel();

    QString target() const { return m_target; }

Q_SIGNALS:
    // done of total titles have been looked up.
    void progressed(int done, int total);
    // The run ended: written says whether the file was written (error says why not), feeds
    // how many feeds it holds.
    void finished(bool written, bool cancelled, const QString& error, int feeds);

private:
    void run();

    const FeedStore& m_store;
    std::unique_ptr<CancellableFetcher> m_fetcher;
    QString m_target;
    QThread* m_thread = nullptr;
};

} // namespace quorvel
