#pragma once

#include <QByteArray>
#include <QString>

namespace quorvel {

// The heading line of a new error.log.
inline constexpr const char* kErrorLogHeading =
    "Invalid Feed URLs.  It is recommended that you disable them.";

// error.log never grows past this many bytes: the oldest entry lines go first.
inline constexpr qint64 kErrorLogLimitBytes = 1024 * 1024;

// error.log for one refresh cycle: opened once, on the first failed feed, appended to for
// every later one, closed when the object goes. It is opened without following links (a
// link in its place is replaced by a new file, never written through), created readable by
// the user only, and refused when it is not a plain file of the user's.
class BadFeedLog {
public:
    explicit BadFeedLog(QString path, qint64 limitBytes = kErrorLogLimitBytes);
    ~BadFeedLog();
    BadFeedLog(const BadFeedLog&) = delete;
    BadFeedLog& operator=(const BadFeedLog&) = delete;

    // Records a feed that failed to load: the heading line when the file is new, then
    // date "-" time " " and the URL as loggedUrl gives it, each line ending in CR LF. When
    // the line would take the file past its limit, the oldest entry lines are dropped first
    // (the heading stays) and the file is replaced atomically. Returns true when the line
    // was written (the caller then sets its error flag); failures go to errorSink, once.
    bool logBadFeed(const QString& url);

private:
    bool open();
    bool makeRoomFor(qint64 incoming);
    void fail(const QString& why);

    QString m_path;
    qint64 m_limit;
    int m_fd = -1;
    qint64 m_size = 0;
    bool m_failed = false;
};

// A feed URL as error.log shows it, always on one line: user info ("user:pass@") removed;
// spaces, CR, LF and every other C0 or C1 control character, DEL and the Unicode line and
// paragraph separators percent-encoded (UTF-8 bytes); cut to a few kilobytes.
QByteArray loggedUrl(const QString& url);

// text as writeTextFile writes it: UTF-8, after a byte-order mark when withBom.
QByteArray textFileBytes(const QString& text, bool withBom);

// Writes text as the whole content of the file, UTF-8, atomically, readable by the user
// only; withBom puts a UTF-8 byte-order mark first. Returns false with *error when the file
// could not be written.
bool writeTextFile(const QString& path, const QString& text, bool withBom = false,
                   QString* error = nullptr);

} // namespace quorvel
