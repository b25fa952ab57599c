#include "feedcheckjob.h"

#include <QThread>

#include "manager/cancellablefetcher.h"

namespace quorvel {

FeedCheckJob::FeedCheckJob(std::unique_ptr<Fetcher> fetcher, QString url, QObject* parent)
    : QObject(parent), m_fetcher(std::make_unique<CancellableFetcher>(std::move(fetcher))),
      m_url(std::move(url)) {
    qRegisterMetaType<FeedCheck>();
}

FeedCheckJob::~FeedCheckJob() {
    if (!m_thread)
        return;
    m_fetcher->cancel();
    m_thread->wait();
    delete m_thread;
}

void FeedCheckJob::start() {
    if (m_thread)
        return;
    m_thread = QThread::create([this] {
        const FetchResult fetched = m_fetcher->start({m_url})->take(0);
        Q_EMIT finished(m_url, checkFetchedFeed(fetched, m_url));
    });
    m_thread->start();
}

} // namespace quorvel
