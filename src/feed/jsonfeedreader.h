#pragma once

#include <optional>

#include <QByteArray>

#include "feed/feed.h"

namespace quorvel {

// Reads a JSON Feed (1.0 or 1.1): a JSON object whose "version" names jsonfeed.org.
// nullopt for any other text. At most articleLimit items are taken (at least one).
std::optional<Feed> readJsonFeed(const QByteArray& text, int articleLimit);

} // namespace quorvel
