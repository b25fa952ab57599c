#pragma once

#include <QString>

#include "store/feedstore.h"

namespace quorvel {

class Prompter;

// The store layout version this program writes.
inline constexpr const char* kCurrentStoreVersion = "1_6_0_0";

// The default of a style value (`heading`, `body`, `link`, `hover`, `visited`, `bDate`);
// empty for any other name.
QString defaultStyleValue(const QString& attribute);

// Brings the store up to the current layout: every missing style value and `magnetic` get
// their defaults (present ones are kept), `refresh`, `min`, `trans` and `quorvelVersion` are
// reset, every feed entry gains a missing `num`, `headers` or `disabled`; then saves.
// Returns false (with *error) when the store cannot be loaded or saved; the file is then
// unchanged. The caller reads the settings again afterwards. It loads and saves under the
// store lock, so a change another writer made in the meantime is kept.
bool applySettingsDefaults(const FeedStore& store, QString* error = nullptr);

// The first start: when the store file is missing, writes defaultStoreText() completed as
// applySettingsDefaults would, in one save under the store lock. A store another writer
// created meanwhile is left alone. True when the store exists afterwards; otherwise *error
// and *problem say why.
bool createDefaultStore(const FeedStore& store, QString* error = nullptr,
                        StoreProblem* problem = nullptr);

// Tells the user "Quorvel RSS Reader will now update", then runs applySettingsDefaults.
bool announceUpdate(Prompter& prompter, const FeedStore& store, QString* error = nullptr);

// True when a version text ("1_5_0_0") is older than the current layout; a text that does
// not read as a number counts as older.
bool isOlderStoreVersion(const QString& versionText);

} // namespace quorvel
