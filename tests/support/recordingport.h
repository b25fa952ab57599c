#pragma once

#include <deque>
#include <vector>

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "refresh/readerport.h"

namespace quorvel::test {

// A ReaderPort that records every call as a line ("title: ...", "tip: ...", "page: ...",
// "prompt: <title>|<text>", "opacity: N", "open: ...", "magnetic: 0/1", "interval: ...",
// "unchanged: ...", "summary: <fetched> <unchanged> <from cache> <failed>")
// and answers prompts from a queue (Ok when the queue is empty). The feed outcomes of each
// run are kept in outcomeRuns and recorded as "outcomes: <count>".
class RecordingPort : public ReaderPort {
public:
    QStringList calls;
    std::deque<MessageAnswer> answers;
    std::vector<Message> prompts;
    std::vector<FeedOutcomes> outcomeRuns;
    std::vector<FetchSummary> summaries;

    void setTitle(const QString& title) override { calls << "title: " + title; }
    void setTrayTip(const QString& tipField) override { calls << "tip: " + trayTipText(tipField); }
    void showPage(const QString& path) override { calls << "page: " + path; }
    void pageUnchanged(const QString& path) override { calls << "unchanged: " + path; }
    void fetchSummary(const FetchSummary& s) override {
        summaries.push_back(s);
        calls << QStringLiteral("summary: %1 %2 %3 %4")
                     .arg(s.fetched)
                     .arg(s.unchanged)
                     .arg(s.fromCache)
                     .arg(s.failed);
    }
    void applyOpacity(int alpha) override { calls << "opacity: " + QString::number(alpha); }
    void openWithDesktop(const QString& path) override { calls << "open: " + path; }
    void setMagneticTicked(bool ticked) override {
        calls << "magnetic: " + QString::number(ticked);
    }
    void markIntervalForSetting(const QString& text) override { calls << "interval: " + text; }
    void feedOutcomes(const FeedOutcomes& outcomes) override {
        outcomeRuns.push_back(outcomes);
        calls << "outcomes: " + QString::number(outcomes.size());
    }
    MessageAnswer prompt(const Message& message) override {
        prompts.push_back(message);
        calls << "prompt: " + message.title + "|" + message.text;
        const MessageAnswer answer = answers.empty() ? MessageAnswer::Ok : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }

    // The recorded lines that start with prefix, prefix removed.
    QStringList callsOf(const QString& prefix) const {
        const QRegularExpression start("^" + prefix + ": ");
        return QStringList(calls.filter(start)).replaceInStrings(start, QString());
    }
};

} // namespace quorvel::test
