#pragma once

#include <QString>

namespace quorvel {

class FeedStore;

// How the reader shows its page: a light text view drawn by the program itself, or the
// browser-engine view.
enum class PageViewKind { Light, Web };

// The view a reader starts with when the store and the command line say nothing.
constexpr PageViewKind defaultPageViewKind = PageViewKind::Light;

// "light" or "web" (any case, spaces around ignored) as a view; std::nullopt-like false in
// *ok for any other text, and the default view is returned.
PageViewKind pageViewKindFromText(const QString& text, bool* ok = nullptr);
QString pageViewKindText(PageViewKind kind);

// The `view` setting of the store; the default when the store or the attribute is missing or
// its text is not a view's name. Reads without the lock, as every reader does.
PageViewKind readViewSetting(const FeedStore& store);

// Writes the `view` setting and saves the store; failures go to errorSink.
bool storeViewSetting(const FeedStore& store, PageViewKind kind);

} // namespace quorvel
