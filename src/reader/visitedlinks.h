#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace quorvel {

// The links the user opened from the page, kept in a file of the data folder so that they
// still show as visited after a restart. The file holds one address per line, oldest first;
// it keeps the newest maxEntries and ignores addresses longer than maxUrlLength. It is
// replaced atomically at each change.
class VisitedLinks {
public:
    static constexpr int maxEntries = 2000;
    static constexpr int maxUrlLength = 2048;

    // Reads path when it exists; a missing or unreadable file is an empty set.
    explicit VisitedLinks(QString path);

    bool contains(const QUrl& url) const { return m_set.contains(key(url)); }
    bool containsKey(const QString& key) const { return m_set.contains(key); }
    // Adds url (as the newest) and saves; false with *error when the file could not be
    // written (the link still counts as visited until the program ends).
    bool add(const QUrl& url, QString* error = nullptr);
    int size() const { return int(m_order.size()); }
    // Every address kept, oldest first, in the form key() gives.
    QStringList entries() const { return m_order; }
    QString path() const { return m_path; }

    // The form an address is kept in: its fragment dropped, encoded.
    static QString key(const QUrl& url);

private:
    QString m_path;
    QStringList m_order;
    QSet<QString> m_set;
};

} // namespace quorvel
