#include "feedstore.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include "platform/atomicfile.h"
#include "store/storeaccess.h"
#include "store/storelock.h"

namespace quorvel {

namespace {

StoreProblem problemOfErrno(int code) {
    switch (code) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return StoreProblem::DiskFull;
    case EROFS:
    case EACCES:
    case EPERM:
        return StoreProblem::ReadOnly;
    default:
        return StoreProblem::WriteFailed;
    }
}

// Creates folder (and what leads to it) when missing; the folder itself readable by the
// user only, since it will hold the user's feeds.
void makePrivateFolder(const QString& folder) {
    if (QFileInfo(folder).isDir())
        return;
    QDir().mkpath(QFileInfo(folder).absolutePath());
    QDir().mkdir(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

FeedStore::FeedStore(QString folder) : m_folder(std::move(folder)) {}

QString FeedStore::storePath() const {
    return m_folder + QStringLiteral("/rss_feeds.xml");
}
QString FeedStore::pagePath() const {
    return m_folder + QStringLiteral("/feeds.htm");
}
QString FeedStore::errorLogPath() const {
    return m_folder + QStringLiteral("/error.log");
}

bool FeedStore::exists() const {
    return QFileInfo::exists(storePath());
}

XmlDocument FeedStore::load(QString* error) const {
    return XmlDocument::fromFile(storePath(), error);
}

bool FeedStore::save(const XmlDocument& document, QString* error) const {
    StoreProblem problem = StoreProblem::None;
    return transact(nullptr, &document, {}, error, kStoreWaitMs, &problem);
}

bool FeedStore::modify(const Change& change, QString* error, int waitMs,
                       StoreProblem* problem) const {
    return transact(nullptr, nullptr, change, error, waitMs, problem);
}

bool FeedStore::createIfMissing(const QString& initialText, const Change& complete, QString* error,
                                int waitMs, StoreProblem* problem) const {
    return transact(&initialText, nullptr, complete, error, waitMs, problem);
}

bool FeedStore::transact(const QString* initialText, const XmlDocument* replacement,
                         const Change& change, QString* error, int waitMs,
                         StoreProblem* problem) const {
    QString reason;
    auto fail = [&](StoreProblem kind) {
        if (error)
            *error = reason;
        if (problem)
            *problem = kind;
        return false;
    };
    const QString shown = QDir::toNativeSeparators(storePath());
    const StoreLock lock(storePath(), waitMs);
    if (!lock.isLocked()) {
        reason = lock.timedOut()
                     ? QStringLiteral("%1 is busy: another program kept it locked for %2 seconds")
                           .arg(shown)
                           .arg(waitMs / 1000.0)
                     : QStringLiteral("%1 cannot be locked for writing: %2")
                           .arg(shown, lock.errorText());
        return fail(lock.timedOut() ? StoreProblem::Busy : problemOfErrno(lock.errorNumber()));
    }
    XmlDocument loaded;
    const XmlDocument* document = &loaded;
    if (replacement) {
        document = replacement;
    } else if (initialText) {
        // Checked again under the lock: another writer may have made the store meanwhile,
        // and writing the first-start text over it would drop that writer's feeds.
        if (exists()) {
            if (problem)
                *problem = StoreProblem::None;
            return true;
        }
        loaded = XmlDocument::parse(initialText->toUtf8(), &reason);
    } else {
        loaded = load(&reason);
    }
    if (document->isNull()) {
        if (replacement)
            reason = QStringLiteral("%1: nothing to save").arg(shown);
        return fail(replacement ? StoreProblem::WriteFailed : StoreProblem::Unreadable);
    }
    if (change && !change(loaded, &reason))
        return fail(StoreProblem::Refused);
    const QByteArray bytes = document->toBytes();
    if (bytes.isEmpty()) {
        reason = QStringLiteral("%1: nothing to save").arg(shown);
        return fail(StoreProblem::WriteFailed);
    }
    int code = 0;
    if (!writeFileAtomically(storePath(), bytes, &reason, FileAccess::OwnerOnly, &code))
        return fail(problemOfErrno(code));
    if (error)
        error->clear();
    if (problem)
        *problem = StoreProblem::None;
    return true;
}

QString defaultStoreText() {
    // QUORVEL_FIRST_FEEDS replaces the two built-in feeds with the web addresses it lists
    // (separated by white space): a packager's own choice, or loopback feeds for the tests.
    // Anything in it that is not a web address is skipped; with none left the built-in two stay.
    QStringList urls;
    const QString listed = qEnvironmentVariable("QUORVEL_FIRST_FEEDS");
    for (const QString& url : listed.split(QRegularExpression(QStringLiteral("\\s+")),
                                           Qt::SkipEmptyParts)) {
        if (isWebAddress(url))
            urls << url;
    }
    if (urls.isEmpty()) {
        return QStringLiteral(
            "<root><feed headers='false' num='10' url='https://www.engadget.com/rss.xml' />"
            "<feed headers='true' num='10' url='https://feeds.bbci.co.uk/news/rss.xml' /></root>");
    }
    QString text = QStringLiteral("<root>");
    for (qsizetype i = 0; i < urls.size(); ++i) {
        text += QStringLiteral("<feed headers='%1' num='10' url=\"%2\" />")
                    .arg(i == 0 ? QStringLiteral("false") : QStringLiteral("true"),
                         urls.at(i).toHtmlEscaped());
    }
    return text + QStringLiteral("</root>");
}

bool isPrivateFolder(const QString& folder) {
    struct stat info {};
    const QByteArray path = QFile::encodeName(folder);
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
           ::access(path.constData(), W_OK | X_OK) == 0;
}

QString resolveDataFolder(const QString& dataDirOption, const QString& programFolder) {
    if (!dataDirOption.isEmpty()) {
        const QString folder = QDir(dataDirOption).absolutePath();
        makePrivateFolder(folder);
        return folder;
    }
    // A folder others can write to would let them plant or swap the files the program
    // writes and reads there.
    if (isPrivateFolder(programFolder))
        return QFileInfo(programFolder).absoluteFilePath();
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    makePrivateFolder(perUser);
    return perUser;
}

} // namespace quorvel
