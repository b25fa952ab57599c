#include "readerportadapter.h"

#include <memory>
#include <optional>

#include <QThread>

#include "reader/pageview.h"
#include "reader/readerwindow.h"
#include "refresh/settings.h"

namespace quorvel {

ReaderPortAdapter::ReaderPortAdapter(ReaderWindow& window, Prompter& prompter)
    : m_window(window), m_prompter(prompter) {}

template <typename F> void ReaderPortAdapter::post(F f) {
    QMetaObject::invokeMethod(&m_window, std::move(f), Qt::QueuedConnection);
}

void ReaderPortAdapter::setTitle(const QString& title) {
    post([w = &m_window, title] { w->setWindowTitle(title); });
}

void ReaderPortAdapter::setTrayTip(const QString& tipField) {
    post([w = &m_window, tip = trayTipText(tipField)] { w->showTrayTip(tip); });
}

void ReaderPortAdapter::showPage(const QString& path) {
    post([w = &m_window, path] { w->showPage(path); });
}

void ReaderPortAdapter::pageUnchanged(const QString& path) {
    // Reloading an unchanged page would cost the view a full layout every cycle; only a view
    // that shows another file (or none yet) loads it.
    post([w = &m_window, path] {
        if (w->pageView()->pageUrl() != QUrl::fromLocalFile(path))
            w->pageView()->showFile(path);
    });
}

void ReaderPortAdapter::applyOpacity(int alpha) {
    // The tool style was set when the window was made; only the opacity changes per cycle.
    post([w = &m_window, alpha] { w->setWindowOpacity(qBound(1, alpha, 255) / 255.0); });
}

void ReaderPortAdapter::openWithDesktop(const QString& path) {
    post([w = &m_window, path] { w->openOnDesktop(path); });
}

void ReaderPortAdapter::setMagneticTicked(bool ticked) {
    post([w = &m_window, ticked] { w->tickStickToEdges(ticked); });
}

void ReaderPortAdapter::markIntervalForSetting(const QString& refreshText) {
    post([w = &m_window, refreshText] { w->markInterval(refreshText); });
}

void ReaderPortAdapter::settingsLoaded(const Settings& settings) {
    post([w = &m_window, minimised = settings.startMinimised] { w->appear(minimised); });
}

void ReaderPortAdapter::feedOutcomes(const FeedOutcomes& outcomes) {
    post([w = &m_window, outcomes] { w->keepFeedOutcomes(outcomes); });
}

MessageAnswer ReaderPortAdapter::prompt(const Message& message) {
    if (QThread::currentThread() == m_window.thread())
        return m_prompter.prompt(message);
    auto answer = std::make_shared<std::optional<MessageAnswer>>();
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return MessageAnswer::Cancel;
    }
    post([this, message, answer] {
        {
            std::lock_guard lock(m_mutex);
            if (m_closed)
                return;
        }
        const MessageAnswer picked = m_prompter.prompt(message);
        {
            std::lock_guard lock(m_mutex);
            *answer = picked;
        }
        m_answered.notify_all();
    });
    // Not a blocking-queued call: close() must be able to release this wait while the box
    // is still open, or Exit from inside the box's event loop would deadlock.
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [&] { return answer->has_value() || m_closed; });
    return answer->value_or(MessageAnswer::Cancel);
}

void ReaderPortAdapter::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_answered.notify_all();
}

} // namespace quorvel
