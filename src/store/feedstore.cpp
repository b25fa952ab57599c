#include "feedstore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "store/storelock.h"

namespace quorvel {

namespace {
// Writers wait this long for another writer to finish before they give up.
constexpr int kSaveLockTimeoutMs = 5000;
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
    if (document.isNull()) {
        if (error)
            *error =
                QStringLiteral("%1: nothing to save").arg(QDir::toNativeSeparators(storePath()));
        return false;
    }
    StoreLock lock(storePath(), kSaveLockTimeoutMs);
    if (!lock.isLocked()) {
        if (error)
            *error = QStringLiteral("%1 is busy: another writer holds it")
                         .arg(QDir::toNativeSeparators(storePath()));
        return false;
    }
    return document.save(storePath(), error);
}

QString defaultStoreText() {
    return QStringLiteral(
        "<root><feed headers='false' num='10' url='https://www.engadget.com/rss.xml' />"
        "<feed headers='true' num='10' url='https://feeds.bbci.co.uk/news/rss.xml' /></root>");
}

QString resolveDataFolder(const QString& dataDirOption, const QString& programFolder) {
    if (!dataDirOption.isEmpty()) {
        QDir().mkpath(dataDirOption);
        return QDir(dataDirOption).absolutePath();
    }
    const QFileInfo program(programFolder);
    if (program.isDir() && program.isWritable())
        return program.absoluteFilePath();
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(perUser);
    return perUser;
}

} // namespace quorvel
