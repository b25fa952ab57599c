#pragma once

#include <functional>

#include <QString>

#include "platform/xmldocument.h"

namespace quorvel {

// How long a writer waits for another writer of the store to finish before it gives up.
inline constexpr int kStoreWaitMs = 5000;

// Why a change of the store was not saved.
enum class StoreProblem {
    None,
    Busy,       // another writer kept the lock for the whole wait
    Unreadable, // the file is missing or not well-formed
    Refused,    // the change itself declined (its reason is in the error text)
    DiskFull,   // no room left on the disk, or the file would exceed the size allowed
    ReadOnly,   // the folder or the file cannot be written
    WriteFailed // any other failure of the lock or the write
};

// The feed store file rss_feeds.xml and the files written beside it, in one data folder.
// Every operation loads the whole file and, when it changed something, saves it whole.
class FeedStore {
public:
    // Changes a loaded store document; returns false (with *error) to leave the file as it
    // was.
    using Change = std::function<bool(XmlDocument& document, QString* error)>;

    explicit FeedStore(QString folder);

    QString folder() const { return m_folder; }
    QString storePath() const;    // <folder>/rss_feeds.xml
    QString pagePath() const;     // <folder>/feeds.htm
    QString errorLogPath() const; // <folder>/error.log

    bool exists() const;
    // Loads and parses the store; a null document when it is missing or not well-formed,
    // with the reason (naming the file) in *error. Needs no lock: every save replaces the
    // file in one rename, so a reader sees a whole file.
    XmlDocument load(QString* error = nullptr) const;
    // Saves the whole document atomically while holding the store lock; on failure the
    // previous file is untouched and *error says why. It replaces whatever another writer
    // saved since the document was loaded: writers that change the store use modify().
    bool save(const XmlDocument& document, QString* error = nullptr) const;

    // One transaction: takes the store lock (waiting at most waitMs), loads the store,
    // applies change and saves the result before the lock is released, so no other writer's
    // change is lost in between. False when the lock was not had in time, the store cannot
    // be loaded, the change declined or the save failed; then the file is as it was, *error
    // says why and *problem which kind of failure it was.
    bool modify(const Change& change, QString* error = nullptr, int waitMs = kStoreWaitMs,
                StoreProblem* problem = nullptr) const;

    // Creates the store on a first start: under the lock, and only when the file is still
    // missing then, parses initialText, applies complete and saves. True when the store
    // exists afterwards (made by this call or by another writer in the meantime).
    bool createIfMissing(const QString& initialText, const Change& complete,
                         QString* error = nullptr, int waitMs = kStoreWaitMs,
                         StoreProblem* problem = nullptr) const;

private:
    // The one path every write takes: lock; then replacement, or initialText when the file
    // is still missing, or the file as loaded; then change; then the atomic write.
    bool transact(const QString* initialText, const XmlDocument* replacement, const Change& change,
                  QString* error, int waitMs, StoreProblem* problem) const;

    QString m_folder;
};

// The store written on a first start: a root without settings and two feeds, or the web
// addresses listed in the environment variable QUORVEL_FIRST_FEEDS.
QString defaultStoreText();

// The folder the program keeps its files in: dataDirOption when given (created, readable by
// the user only, when missing); otherwise the program's folder when it belongs to the user
// and no one else may write to it; else the per-user application data folder (created,
// readable by the user only, when missing).
QString resolveDataFolder(const QString& dataDirOption, const QString& programFolder);

// True when folder is a folder that belongs to the user running the program, which the
// user can write to and no group or other user can.
bool isPrivateFolder(const QString& folder);

} // namespace quorvel
