#include "opmlexportjob.h"

#include <QThread>

#include "manager/cancellablefetcher.h"
#include "platform/atomicfile.h"
#include "platform/fetcher.h"
#include "refresh/feedcache.h"
#include "store/opml.h"

namespace quorvel {

OpmlExportJob::OpmlExportJob(const FeedStore& store, std::unique_ptr<Fetcher> fetcher,
                             QString target, QObject* parent)
    : QObject(parent), m_store(store),
      m_fetcher(std::make_unique<CancellableFetcher>(std::move(fetcher))),
      m_target(std::move(target)) {}

OpmlExportJob::~OpmlExportJob() {
    if (!m_thread)
        return;
    cancel();
    m_thread->wait();
    delete m_thread;
}

void OpmlExportJob::start() {
    if (m_thread)
        return;
    m_thread = QThread::create([this] { run(); });
    m_thread->start();
}

void OpmlExportJob::cancel() {
    m_fetcher->cancel();
}

void OpmlExportJob::run() {
    QString text;
    QString error;
    int feeds = 0;
    bool written = buildOpmlExport(
        m_store, *m_fetcher, &text, &error,
        [&](int done, int total) {
            feeds = total;
            Q_EMIT progressed(done, total);
        },
        FeedCache::ofDataFolder(m_store.folder()).keptAnswers());
    // Titles cut short by a cancel would read "url not found": nothing is written then.
    if (m_fetcher->isCancelled()) {
        Q_EMIT finished(false, true, QString(), feeds);
        return;
    }
    // The export is a file the user hands on, so it is created like any of the user's files.
    if (written)
        written = writeFileAtomically(m_target, text.toUtf8(), &error, FileAccess::Shared);
    Q_EMIT finished(written, false, error, feeds);
}

} // namespace quorvel
