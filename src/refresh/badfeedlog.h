#pragma once

#include <QString>

namespace quorvel {

class FeedStore;

// The heading line of a new error.log.
inline constexpr const char* kErrorLogHeading =
    "Invalid Feed URLs.  It is recommended that you disable them.";

// Records the feed entry at feedIndex (its position among the root's feed elements) in
// error.log beside the store: the heading line when the file is new, then date "-" time " "
// url. Returns true when the line was written (the caller then sets its error flag);
// failures go to errorSink.
bool logBadFeed(const FeedStore& store, int feedIndex);

// Writes text as the whole content of the file, UTF-8, atomically; withBom puts a UTF-8
// byte-order mark first. Returns false with *error when the file could not be written.
bool writeTextFile(const QString& path, const QString& text, bool withBom = false,
                   QString* error = nullptr);

} // namespace quorvel
