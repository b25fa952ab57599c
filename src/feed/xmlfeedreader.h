#pragma once

#include <atomic>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <QUrl>

#include "feed/feed.h"
#include "platform/xmldocument.h"

namespace quorvel {

// Reads RSS (0.9x, 1.0, 2.0, and any XML by the RSS rules) or Atom (1.0, 0.3, or without
// its namespace) from libxml2's events as it parses, building no tree: only the texts of
// the fields the model reads are gathered, each item is taken into the model when it ends,
// and items past the article limit are never read.
//
// The RSS rules: the channel title and build date come from the last "channel" element of
// the document (its first title, else its first title of another namespace); the image
// from the last "image" below a channel; the items are those below a channel in document
// order, then those anywhere else, as many as the article limit (at least one below a
// channel).
class XmlFeedReader : public XmlStreamReader {
public:
    XmlFeedReader(int articleLimit, QUrl address, const std::atomic<bool>* cancel);

    void startElement(const XmlStartTag& tag) override;
    void endElement() override;
    void characters(const char* utf8, int length) override;
    bool stopped() const override;
    // Takes in the elements a recovered document left open.
    void documentEnded() override;

    // A channel element (RSS) or a feed root element (Atom) was met.
    bool hasFeedElement() const { return m_hasFeedElement; }
    // Items or entries met, listed or not.
    int itemsSeen() const { return m_itemsSeen; }
    // The reading; format None when the document holds no feed.
    Feed takeFeed();

    // One kept field: the first element of its kind in a record, as far as it is read.
    struct Field {
        // std::string rather than QByteArray: appends of a few bytes, by far the commonest
        // work here, cost a fraction.
        std::string text;  // its character data and that of its descendants, UTF-8
        // Atom texts: the content as XML, once an element appeared in it (before that it
        // is the text, escaped); and where the content of a single child "div" lies in it.
        std::string xml;
        int childElements = 0;
        bool firstChildIsDiv = false;
        std::ptrdiff_t divBegin = -1, divEnd = -1;
        // The attributes read of it: a text's type and mode, a link's href (resolved against
        // the xml:base in force), a guid's isPermaLink.
        std::string type, mode, href;
        bool permaLink = false, isPermaLink = false; // has the attribute; it is not "false"
        bool hasSrc = false;
        QUrl base; // Atom: the xml:base in force at its start; empty when none
    };

private:
    static constexpr int kFieldKinds = 12;
    enum class Role : unsigned char { Other, Field, Channel, Image, Item, AtomFeed, AtomEntry };
    // A channel, image, item, entry or Atom feed being read.
    struct Record {
        Role role = Role::Other;
        unsigned fieldsKept = 0;    // one bit per field kind kept so far
        Field fields[kFieldKinds]; // valid where fieldsKept has the bit
        bool belowChannel = false;
        int slot = -1;             // items: the kept slot, -1 when past the limit
        int sequence = 0;          // channels and images: which one, in document order
        const Field* field(int kind) const {
            return fieldsKept & (1u << kind) ? &fields[kind] : nullptr;
        }
    };
    // One open element.
    struct Open {
        Role role = Role::Other;
        bool insideField = false; // a record's field, or inside one
        bool markup = false;      // an Atom text or inside one, whose markup matters
        bool tagOpen = false;     // markup: its start tag still waits for ">" or "/>"
        bool fieldChild = false;  // markup: a child element of the field itself
        int record = -1;          // records: the index in m_records
        int base = -1;            // Atom: the xml:base in force, an index in m_bases; -1: none
        bool ownsBase = false;    // ... and it is this element's own
        const char* prefix = nullptr;    // markup: the element's name, to end it
        const char* localName = nullptr;
    };

    int fieldOf(const Record& record, const XmlStartTag& tag) const;
    void startField(Record* record, int kind, const XmlStartTag& tag, Open* open);
    void startRss(const XmlStartTag& tag, Open* open);
    void startAtom(const XmlStartTag& tag, Open* open, const Open* parent);
    void startMarkupElement(const XmlStartTag& tag, Open* open, const Open& parent);
    void closeStartTag(Open* open);
    int openRecord(Role role);
    void startItem(Record* record, bool belowChannel);
    void endRecord(const Record& record);
    void end(Open open);

    int m_limit;
    QUrl m_address;
    std::vector<QUrl> m_bases; // the xml:base of each open element that has one, outermost first
    const std::atomic<bool>* m_cancel;
    std::vector<Open> m_open;
    // Records by nesting depth, kept for reuse: their buffers keep their capacity. A deque:
    // a record opening inside a field leaves that field where it is.
    std::deque<Record> m_records;
    int m_recordDepth = 0;
    Field* m_field = nullptr; // the field that takes the characters met now
    mutable std::string m_scratch; // an attribute's value while it is looked at
    bool m_atom = false;
    QByteArray m_atomNamespace;
    bool m_hasFeedElement = false;
    int m_itemsSeen = 0;
    int m_channelDepth = 0;
    int m_channels = 0, m_images = 0; // started so far
    int m_seen[2] = {0, 0}; // items started below a channel [1] and elsewhere [0]
    std::vector<std::optional<FeedItem>> m_kept[2];
    Feed m_feed;
};

} // namespace quorvel
