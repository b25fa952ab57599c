#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include <QUrl>

#include "feed/feed.h"
#include "platform/xmldocument.h"

namespace quorvel {

// Reads RSS (0.9x, 1.0, 2.0, and any XML by the RSS rules) or Atom (1.0, 0.3, or without
// its namespace) while libxml2 parses: each item is taken into the model when it ends and
// then freed, items past the article limit are never read, and elements no format reads
// are dropped as they end, so a document's tree never grows past what the model needs.
//
// The RSS rules: the channel title and build date come from the last "channel" element of
// the document (its first title, else its first title of another namespace); the image
// from the last "image" below a channel; the items are those below a channel in document
// order, then those anywhere else, as many as the article limit (at least one below a
// channel).
class XmlFeedReader : public XmlParseSink {
public:
    XmlFeedReader(int articleLimit, QUrl address, const std::atomic<bool>* cancel);

    void elementStarted(XmlNode element) override;
    bool elementEnded(XmlNode element) override;
    bool keepsText(XmlNode parent) override;
    bool stopped() const override;

    // Takes in the elements a recovered document left open; call while it still lives.
    void finishOpenElements();

    // A channel element (RSS) or a feed root element (Atom) was met.
    bool hasFeedElement() const { return m_hasFeedElement; }
    // Items or entries met, listed or not.
    int itemsSeen() const { return m_itemsSeen; }
    // The reading; format None when the document holds no feed.
    Feed takeFeed();

private:
    static constexpr int kFieldKinds = 12;
    enum class Role : unsigned char { Other, Field, Channel, Image, Item, AtomFeed, AtomEntry };
    struct Open {
        XmlNode node;
        Role role = Role::Other;
        bool insideField = false; // a record's field, or inside one
        bool markup = false;      // inside an Atom text, whose markup matters
        bool belowChannel = false;
        int slot = -1;              // items: the kept slot, -1 when past the limit
        unsigned fieldsKept = 0;    // records: one bit per field kind kept so far
        XmlNode fields[kFieldKinds]; // records: the kept field of each kind
        // Atom: the xml:base in force, an index in m_bases; -1 when neither this element
        // nor an ancestor has one. ownsBase: it is this element's own.
        int base = -1;
        bool ownsBase = false;
    };

    void startRss(XmlNode element, Open* open);
    void startAtom(XmlNode element, Open* open, const Open* parent);
    int fieldOf(const Open& record, XmlNode element) const;
    void endRecord(const Open& open);
    void startItem(Open* open, bool belowChannel);

    int m_limit;
    QUrl m_address;
    std::vector<QUrl> m_bases; // the xml:base of each open element that has one, outermost first
    const std::atomic<bool>* m_cancel;
    std::vector<Open> m_open;
    bool m_atom = false;
    QByteArray m_atomNamespace;
    bool m_hasFeedElement = false;
    int m_itemsSeen = 0;
    int m_channelDepth = 0;
    int m_seen[2] = {0, 0}; // items started below a channel [1] and elsewhere [0]
    std::vector<std::optional<FeedItem>> m_kept[2];
    XmlNode m_lastChannel;
    XmlNode m_lastImage;
    Feed m_feed;
};

} // namespace quorvel
