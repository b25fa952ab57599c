#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>

#include "store/prompter.h"
#include "testfiles.h"

namespace quorvel::test {

// Keeps every message and answers Ok.
class AnsweringPrompter : public Prompter {
public:
    std::vector<Message> messages;

    MessageAnswer prompt(const Message& message) override {
        messages.push_back(message);
        return MessageAnswer::Ok;
    }
};

// Runs the event loop until done() holds or timeoutMs passes; returns done().
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return done();
}

// Runs the event loop for ms milliseconds.
inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

// Catches what would go to the desktop's handlers for a URL scheme while it lives.
class DesktopCatcher : public QObject {
    Q_OBJECT
public:
    explicit DesktopCatcher(const QStringList& schemes);
    ~DesktopCatcher() override;
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }

private:
    QStringList m_schemes;
};

// A store at the current version with the given settings and feed elements.
inline QByteArray storeText(const QString& feeds, bool startMinimised = false,
                            const QString& refresh = QStringLiteral("60000"),
                            bool magnetic = false) {
    const QString root =
        "<root heading='font-family:arial;font-size:12;color:#000000;font-weight:bold;"
        "font-style:normal;' body='font-family:arial;font-size:11;color:#000000;"
        "font-weight:normal;font-style:normal;background-color:#FFFFFF' "
        "link='font-family:arial;font-size:11;color:#0000FF;font-weight:bold;font-style:normal;' "
        "hover='color:#FF0000;font-weight:bold;font-style:normal;' "
        "visited='color:#FF0000;font-weight:bold;font-style:normal;' "
        "bDate='font-family:arial;font-size:11;color:#000000;font-weight:normal;"
        "font-style:italic' magnetic='%1' refresh='%2' min='%3' trans='230' "
        "quorvelVersion='1_6_0_0'>";
    return (root.arg(magnetic ? "true" : "false", refresh, startMinimised ? "true" : "false") +
            feeds + "</root>")
        .toUtf8();
}

inline QString feedElement(const QString& url) {
    return "<feed url='" + url + "' num='5' headers='false' disabled='false'/>";
}

} // namespace quorvel::test
