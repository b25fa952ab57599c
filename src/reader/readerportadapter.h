#pragma once

#include <condition_variable>
#include <mutex>

#include "refresh/readerport.h"

namespace quorvel {

class ReaderWindow;

// The reader window as the refresh cycle's port. The cycle calls it on the worker thread;
// every change is posted to the window's UI thread and dropped if the window is gone by
// then. A question blocks the worker until the user has answered it on the UI thread.
class ReaderPortAdapter : public ReaderPort {
public:
    // prompter shows the questions on the UI thread; both must outlive the adapter.
    ReaderPortAdapter(ReaderWindow& window, Prompter& prompter);

    void setTitle(const QString& title) override;
    void setTrayTip(const QString& tipField) override;
    void showPage(const QString& path) override;
    void pageUnchanged(const QString& path) override;
    void applyOpacity(int alpha) override;
    void openWithDesktop(const QString& path) override;
    void setMagneticTicked(bool ticked) override;
    void markIntervalForSetting(const QString& refreshText) override;
    void settingsLoaded(const Settings& settings) override;
    void feedOutcomes(const FeedOutcomes& outcomes) override;
    // From the worker: waits until the user has answered; Cancel once close() has run. From
    // the UI thread: asks directly.
    MessageAnswer prompt(const Message& message) override;

    // Releases a worker waiting for an answer and answers Cancel to every later question,
    // so that the worker can be stopped while a question is still open.
    void close();

private:
    // Runs f on the window's thread after the current event.
    template <typename F> void post(F f);

    ReaderWindow& m_window;
    Prompter& m_prompter;
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_closed = false;
};

} // namespace quorvel
