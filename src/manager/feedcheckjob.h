#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QString>

#include "refresh/feedcheck.h"

class QThread;

namespace quorvel {

class CancellableFetcher;
class Fetcher;

// Makes a fetcher for work off the window thread (tests hand in their own).
using FetcherFactory = std::function<std::unique_ptr<Fetcher>()>;

// Looks at one feed address off the window thread: fetches it and judges what came back.
// Its signal arrives on the thread that made it.
class FeedCheckJob : public QObject {
    Q_OBJECT

public:
    FeedCheckJob(std::unique_ptr<Fetcher> fetcher, QString url, QObject* parent = nullptr);
    // Cancels a fetch still going and waits for it to end.
    ~FeedCheckJob() override;

    void start();
    QString url() const { return m_url; }

Q_SIGNALS:
    void finished(const QString& url, const quorvel::FeedCheck& check);

private:
    std::unique_ptr<CancellableFetcher> m_fetcher;
    QString m_url;
    QThread* m_thread = nullptr;
};

} // namespace quorvel

Q_DECLARE_METATYPE(quorvel::FeedCheck)
