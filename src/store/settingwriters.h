#pragma once

#include <QString>

namespace quorvel {

class FeedStore;

// Writes `refresh` (milliseconds) on the root and saves the store. Failures go to errorSink;
// the file then keeps its previous content. Returns whether the store was written.
bool storeRefreshSetting(const FeedStore& store, qint64 intervalMs);

// Writes `magnetic` as "true"/"false" from the tick state of "Stick to Edges" and saves.
bool storeMagneticSetting(const FeedStore& store, bool ticked);

// Writes one attribute of the settings element and saves the store in one transaction.
// Failures go to errorSink with source; returns whether the store was written.
bool storeRootSetting(const FeedStore& store, const QString& name, const QString& value,
                      const char* source);

} // namespace quorvel
