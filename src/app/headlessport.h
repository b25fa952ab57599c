#pragma once

#include <cstdio>

#include "refresh/readerport.h"

namespace quorvel {

// text with every control character replaced, so that what a feed puts into a title cannot
// break a progress line, forge another one or send escape sequences to the terminal: tab,
// NEL and the line and paragraph separators become a space, other C0 and C1 controls and
// DEL become U+FFFD.
QString printableText(const QString& text);

// The reader port of a run without windows: title and tip changes become progress lines,
// messages are printed and count as answered OK. Each becomes exactly one line: the breaks
// of a tip or a message are shown as " | ", and control characters never reach the output.
class HeadlessPort : public ReaderPort {
public:
    explicit HeadlessPort(std::FILE* out) : m_out(out) {}

    void setTitle(const QString& title) override;
    void setTrayTip(const QString& tipField) override;
    void showPage(const QString& path) override;
    void fetchSummary(const FetchSummary& summary) override;
    void applyOpacity(int) override {}
    void openWithDesktop(const QString& path) override;
    void setMagneticTicked(bool) override {}
    void markIntervalForSetting(const QString&) override {}
    MessageAnswer prompt(const Message& message) override;

private:
    void line(const QString& text);
    std::FILE* m_out;
    QString m_lastTitle;
    QString m_lastTip;
};

} // namespace quorvel
