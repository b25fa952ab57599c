#pragma once

#include <QString>

#include "refresh/feedoutcome.h"
#include "store/prompter.h"

namespace quorvel {

struct Settings;

// How the feeds of one cycle were loaded.
struct FetchSummary {
    int fetched = 0;          // a new body came and was shown
    int unchanged = 0;        // the server answered 304: shown from the cache, as current
    int fromCache = 0;        // not loaded (failed, or the server asked to wait): last copy shown
    int failed = 0;           // did not load; logged in error.log (those shown from the cache too)
    qint64 bytesReceived = 0; // over the network, headers included
};

// What the refresh cycle needs of the reader window. The reader implements it (posting to
// its UI thread); the headless run prints; tests record. Message boxes come through the
// Prompter base.
class ReaderPort : public Prompter {
public:
    // The window's title bar.
    virtual void setTitle(const QString& title) = 0;
    // The tray icon's tip field as the cycle writes it: the text up to its first NUL, at most
    // 64 characters, is what the user sees (see trayTipText).
    virtual void setTrayTip(const QString& tipField) = 0;
    // Shows the page file in the browser view.
    virtual void showPage(const QString& path) = 0;
    // The page file is the one showPage() was last given, unchanged since: a view that
    // shows it already need not load it again.
    virtual void pageUnchanged(const QString& path) { (void)path; }
    // How the feeds of a cycle were loaded, once the last of them is done.
    virtual void fetchSummary(const FetchSummary& summary) { (void)summary; }
    // Window opacity alpha (1..255) and the tool-window style.
    virtual void applyOpacity(int alpha) = 0;
    // Opens a file with the desktop's handler for its type.
    virtual void openWithDesktop(const QString& path) = 0;
    // Tick state of "Stick to Edges".
    virtual void setMagneticTicked(bool ticked) = 0;
    // Leaves exactly the interval item ticked whose interval equals the setting, or none.
    virtual void markIntervalForSetting(const QString& refreshText) = 0;
    // The settings of this run have been read (before any feed is fetched): a reader that is
    // starting can show itself now instead of after the whole first run.
    virtual void settingsLoaded(const Settings& settings) { (void)settings; }
    // What the run found for each enabled feed, in store order; once per run that fetched
    // the feeds, before the error-log offer.
    virtual void feedOutcomes(const FeedOutcomes& outcomes) { (void)outcomes; }
};

// What the tray shows of a tip field: the text up to its first NUL, cut to 64 characters,
// trailing padding spaces dropped.
QString trayTipText(const QString& tipField);

} // namespace quorvel
