#include "fetcher.h"

namespace quorvel {

FetchResult Fetcher::fetch(const QString& url) {
    auto batch = start(QStringList{url});
    return batch->take(0);
}

} // namespace quorvel
