#pragma once

#include <cstdio>

#include "refresh/readerport.h"

namespace quorvel {

// The reader port of a run without windows: title and tip changes become progress lines,
// messages are printed and count as answered OK.
class HeadlessPort : public ReaderPort {
public:
    explicit HeadlessPort(std::FILE* out) : m_out(out) {}

    void setTitle(const QString& title) override;
    void setTrayTip(const QString& tipField) override;
    void showPage(const QString& path) override;
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
