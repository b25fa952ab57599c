#include "jsonfeedreader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "feed/feedtext.h"

namespace quorvel {

namespace {

// The text with what no XML text can hold (NUL and the other C0 controls but tab, line
// feed and carriage return; lone surrogates, U+FFFE, U+FFFF), which JSON escapes can
// carry, replaced by U+FFFD: every format's texts reach the page alike.
QString asXmlText(QString text) {
    // Read through a const pointer: writing through operator[] would copy a shared string
    // before anything is known to need replacing.
    const QChar* data = std::as_const(text).constData();
    QChar* writable = nullptr; // the string's own copy, made at the first replacement
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = data[i].unicode();
        const bool pairStart = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                               QChar::isLowSurrogate(data[i + 1].unicode());
        if (pairStart) {
            ++i;
            continue;
        }
        if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || QChar::isSurrogate(c) ||
            c == 0xFFFE || c == 0xFFFF) {
            if (writable == nullptr)
                data = writable = text.data();
            writable[i] = QChar(QChar::ReplacementCharacter);
        }
    }
    return text;
}

void appendCharacter(std::string* out, char32_t c) {
    if (c < 0x80) {
        out->push_back(char(c));
        return;
    }
    const QByteArray utf8 = QStringView(QChar::fromUcs4(c)).toUtf8();
    out->append(utf8.constData(), std::size_t(utf8.size()));
}

// A JSON reader over the document's bytes that keeps nothing itself: the feed reader
// below asks for the strings it wants and skips every other value, so what a document
// costs beyond its own bytes is what the model keeps of it. It reads RFC 8259 with the
// leniencies of Qt's parser, which read these feeds before (raw control characters in
// strings, unknown escapes, numbers such as ".5"), and invalid UTF-8 as U+FFFD, as the
// XML formats are read.
class JsonScanner {
public:
    // Nesting deeper than this is refused rather than followed.
    static constexpr int kMaxDepth = 200;
    // A kept string's bytes beyond this are read but not kept.
    static constexpr std::size_t kMaxKeptString = 4u << 20;

    explicit JsonScanner(const QByteArray& text)
        : m_at(text.constData()), m_end(text.constData() + text.size()) {
        if (m_end - m_at >= 3 && std::memcmp(m_at, "\xEF\xBB\xBF", 3) == 0)
            m_at += 3;
    }

    bool failed() const { return m_failed; }
    // The next significant character, '\0' at the end or after a failure.
    char peek() {
        skipSpace();
        return m_failed || m_at == m_end ? '\0' : *m_at;
    }
    // Takes c, which must come next.
    bool expect(char c) {
        if (peek() != c)
            return fail();
        ++m_at;
        return true;
    }
    // Takes c if it comes next.
    bool take(char c) {
        if (peek() != c)
            return false;
        ++m_at;
        return true;
    }
    // At the end of the document, with nothing but white space after its value.
    bool atEnd() { return peek() == '\0' && !m_failed; }

    // Reads a string into *out (UTF-8, escapes decoded, a lone surrogate as U+FFFD); a
    // null out skips it.
    bool readString(std::string* out);
    bool skipValue(int depth = 0);

    // Walks the members of an object: call with the '{' next, then while it returns true,
    // read or skip the member's value; *key holds its name.
    bool nextMember(bool* first, std::string* key) {
        if (*first) {
            *first = false;
            if (!expect('{') || take('}'))
                return false;
        } else if (!take(',')) {
            expect('}');
            return false;
        }
        return readString(key) && expect(':');
    }
    // The same for the elements of an array.
    bool nextElement(bool* first) {
        if (*first) {
            *first = false;
            return expect('[') && !take(']');
        }
        if (take(','))
            return true;
        expect(']');
        return false;
    }

private:
    bool fail() {
        m_failed = true;
        m_at = m_end;
        return false;
    }
    void skipSpace() {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
            ++m_at;
    }
    bool readHex4(char32_t* value);
    bool skipLiteral(const char* word);
    bool skipNumber();

    const char* m_at;
    const char* m_end;
    bool m_failed = false;
};

bool JsonScanner::readHex4(char32_t* value) {
    if (m_end - m_at < 4)
        return fail();
    char32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = *m_at++;
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return fail();
        v = v * 16 + char32_t(digit);
    }
    *value = v;
    return true;
}

bool JsonScanner::readString(std::string* out) {
    if (!expect('"'))
        return false;
    if (out != nullptr)
        out->clear();
    std::string* into = out; // null once the kept text is long enough
    for (;;) {
        if (into != nullptr && into->size() >= kMaxKeptString)
            into = nullptr;
        // A run of plain characters at once.
        const char* run = m_at;
        while (m_at != m_end && *m_at != '"' && *m_at != '\\')
            ++m_at;
        if (into != nullptr)
            into->append(run, std::min(std::size_t(m_at - run), kMaxKeptString - into->size()));
        if (m_at == m_end)
            return fail(); // cut off
        if (*m_at++ == '"')
            return true;
        if (m_at == m_end)
            return fail();
        const char escape = *m_at++;
        char32_t c = 0;
        switch (escape) {
        case '"': c = '"'; break;
        case '\\': c = '\\'; break;
        case '/': c = '/'; break;
        case 'b': c = '\b'; break;
        case 'f': c = '\f'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case 'u':
            if (!readHex4(&c))
                return false;
            if (c >= 0xD800 && c <= 0xDBFF && m_end - m_at >= 6 && m_at[0] == '\\' &&
                m_at[1] == 'u') {
                const char* pair = m_at;
                m_at += 2;
                char32_t low = 0;
                if (!readHex4(&low))
                    return false;
                if (low >= 0xDC00 && low <= 0xDFFF)
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                else
                    m_at = pair; // the next escape stands on its own
            }
            if (c >= 0xD800 && c <= 0xDFFF)
                c = 0xFFFD;
            break;
        default:
            // Not JSON, but what Qt's parser read: the byte stands for itself.
            if (into != nullptr)
                into->push_back(escape);
            continue;
        }
        if (into != nullptr)
            appendCharacter(into, c);
    }
}

bool JsonScanner::skipLiteral(const char* word) {
    const std::size_t length = std::strlen(word);
    if (std::size_t(m_end - m_at) < length || std::memcmp(m_at, word, length) != 0)
        return fail();
    m_at += length;
    return true;
}

bool JsonScanner::skipNumber() {
    auto digits = [&] {
        const char* start = m_at;
        while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
            ++m_at;
        return m_at != start;
    };
    if (m_at != m_end && *m_at == '-')
        ++m_at;
    bool any = digits();
    if (m_at != m_end && *m_at == '.') {
        ++m_at;
        any = digits() || any;
    }
    if (!any)
        return fail();
    if (m_at != m_end && (*m_at == 'e' || *m_at == 'E')) {
        ++m_at;
        if (m_at != m_end && (*m_at == '+' || *m_at == '-'))
            ++m_at;
        if (!digits())
            return fail();
    }
    return true;
}

bool JsonScanner::skipValue(int depth) {
    if (depth > kMaxDepth)
        return fail();
    std::string key;
    bool first = true;
    switch (peek()) {
    case '"':
        return readString(nullptr);
    case '{':
        while (nextMember(&first, &key))
            if (!skipValue(depth + 1))
                return false;
        return !m_failed;
    case '[':
        while (nextElement(&first))
            if (!skipValue(depth + 1))
                return false;
        return !m_failed;
    case 't':
        return skipLiteral("true");
    case 'f':
        return skipLiteral("false");
    case 'n':
        return skipLiteral("null");
    default:
        return skipNumber();
    }
}

// The string members an object's reading needs, by name.
class Strings {
public:
    explicit Strings(std::initializer_list<const char*> names) : m_names(names) {
        m_values.resize(m_names.size());
    }
    // Reads the value of the member `key` if it is wanted and a string; skips it otherwise.
    bool read(JsonScanner* json, const std::string& key) {
        for (std::size_t i = 0; i < m_names.size(); ++i) {
            if (key != m_names[i])
                continue;
            // A later member of the same name wins; one that is no string reads as empty.
            m_values[i].clear();
            return json->peek() == '"' ? json->readString(&m_values[i]) : json->skipValue();
        }
        return json->skipValue();
    }
    // The first of the names whose value is a string not empty after trimming.
    QString first(std::initializer_list<const char*> names) const {
        for (const char* name : names) {
            const std::size_t i = std::size_t(
                std::find_if(m_names.begin(), m_names.end(),
                             [&](const char* n) { return std::strcmp(n, name) == 0; }) -
                m_names.begin());
            const QString value =
                QString::fromUtf8(m_values[i].data(), qsizetype(m_values[i].size())).trimmed();
            if (!value.isEmpty())
                return asXmlText(value);
        }
        return QString();
    }
    const std::string& raw(const char* name) const {
        for (std::size_t i = 0; i < m_names.size(); ++i)
            if (std::strcmp(m_names[i], name) == 0)
                return m_values[i];
        return m_values.front();
    }

private:
    std::vector<const char*> m_names;
    std::vector<std::string> m_values;
};

FeedItem readItem(const Strings& object) {
    FeedItem item;
    item.title = escapeHtmlTextKeepingReferences(object.first({"title"}));
    const QString link = object.first({"url", "external_url"});
    if (!link.isEmpty())
        item.link = link;
    const QString date = object.first({"date_published", "date_modified"});
    if (!date.isEmpty())
        item.date = displayDate(date);
    const QString html = object.first({"content_html"});
    const QString plain = object.first({"content_text", "summary"});
    if (!html.isEmpty())
        item.description = html;
    else if (!plain.isEmpty())
        item.description = escapeHtmlText(plain);
    return item;
}

} // namespace

std::optional<Feed> readJsonFeed(const QByteArray& text, int articleLimit) {
    JsonScanner json(text);
    Strings root({"version", "title", "icon", "favicon", "home_page_url"});
    Feed feed;
    const std::size_t limit = std::size_t(std::max(articleLimit, 1));
    std::string key;
    bool firstMember = true;
    while (json.nextMember(&firstMember, &key)) {
        if (key != "items" || json.peek() != '[') {
            if (!root.read(&json, key))
                return std::nullopt;
            continue;
        }
        feed.items.clear(); // a later "items" wins
        bool firstItem = true;
        while (json.nextElement(&firstItem)) {
            if (feed.items.size() >= limit) {
                json.skipValue(1);
                continue;
            }
            // An element that is no object is an item without any member.
            Strings item({"title", "url", "external_url", "date_published", "date_modified",
                          "content_html", "content_text", "summary"});
            if (json.peek() == '{') {
                bool firstField = true;
                while (json.nextMember(&firstField, &key))
                    if (!item.read(&json, key))
                        return std::nullopt;
            } else {
                json.skipValue(1);
            }
            feed.items.push_back(readItem(item));
        }
    }
    if (json.failed() || !json.atEnd())
        return std::nullopt;
    const std::string& version = root.raw("version");
    if (version.rfind("https://jsonfeed.org/version/", 0) != 0 &&
        version.rfind("http://jsonfeed.org/version/", 0) != 0)
        return std::nullopt;

    feed.format = FeedFormat::JsonFeed;
    const QString title = root.first({"title"});
    feed.plainTitle = title.isEmpty() ? QStringLiteral("No Title") : title;
    feed.title = title.isEmpty() ? feed.plainTitle : escapeHtmlTextKeepingReferences(title);
    feed.imageUrl = root.first({"icon", "favicon"});
    const QString home = root.first({"home_page_url"});
    if (!home.isEmpty())
        feed.imageLink = home;
    return feed;
}

} // namespace quorvel
