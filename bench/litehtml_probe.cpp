// How long a page takes to parse, lay out at the strip's width and paint once (the first
// screen of the strip, into an image), and the process's memory after that: with litehtml
// through a minimal QPainter container, or with Qt's rich-text engine (what the light view
// uses), one engine per run so that each process holds one engine only.
//
// usage: litehtml_probe litehtml|richtext PAGE [runs [SCREEN.png]]
// Prints one line per run and the medians; the memory is the process's after the last run.
// SCREEN.png receives the first screen as painted, to compare the engines by eye.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>
#include <QTextDocument>

#include <litehtml.h>

namespace {

constexpr int stripWidth = 295;
constexpr int stripHeight = 870;

// The browser defaults the page relies on; litehtml ships none of its own here.
const char* const masterCss = R"(
html, body, div, p, blockquote, pre, ul, ol, dl, dt, dd, h1, h2, h3, h4, h5, h6, hr, address,
center, form, fieldset, figure, section, article, header, footer, nav { display: block; }
head, style, script, title, meta, link, base { display: none; }
br { display: block; }
body { margin: 8px; }
p, blockquote, ul, ol, dl, pre, figure { margin-top: 1em; margin-bottom: 1em; }
blockquote { margin-left: 40px; margin-right: 40px; }
dd { margin-left: 40px; }
h1 { font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { margin: 1.33em 0; font-weight: bold; }
h5 { font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
b, strong, th { font-weight: bold; }
i, em, cite, var, dfn, address { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
a { color: #0000EE; text-decoration: underline; cursor: pointer; }
pre, code, tt, kbd, samp { font-family: monospace; }
pre { white-space: pre; }
ul, ol { padding-left: 40px; }
ul { list-style-type: disc; }
ol { list-style-type: decimal; }
li { display: list-item; }
img { display: inline-block; }
hr { border-style: inset; border-width: 1px; border-color: #808080; margin: 0.5em 0; }
table { display: table; border-collapse: separate; border-spacing: 2px; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
td, th { display: table-cell; padding: 1px; vertical-align: inherit; }
sub { vertical-align: sub; font-size: smaller; }
sup { vertical-align: super; font-size: smaller; }
)";

QColor colourOf(const litehtml::web_color& c) {
    return QColor(c.red, c.green, c.blue, c.alpha);
}

QRect rectOf(const litehtml::position& p) {
    return QRect(p.x, p.y, p.width, p.height);
}

// Text measured with QFontMetrics and drawn through a QPainter; no images (the light view
// fetches them on its own), no style sheets from elsewhere.
class Container : public litehtml::document_container {
public:
    litehtml::uint_ptr create_font(const char* faceName, int size, int weight,
                                   litehtml::font_style italic, unsigned int decoration,
                                   litehtml::font_metrics* fm) override {
        QStringList families;
        for (QString family : QString::fromUtf8(faceName).split(QLatin1Char(','))) {
            family = family.trimmed();
            family.remove(QLatin1Char('"'));
            family.remove(QLatin1Char('\''));
            if (!family.isEmpty())
                families << family;
        }
        auto font = std::make_unique<QFont>();
        font->setFamilies(families);
        font->setPixelSize(std::max(1, size));
        font->setWeight(QFont::Weight(std::clamp(weight, 100, 900)));
        font->setItalic(italic == litehtml::fontStyleItalic);
        font->setUnderline(decoration & litehtml::font_decoration_underline);
        font->setStrikeOut(decoration & litehtml::font_decoration_linethrough);
        font->setOverline(decoration & litehtml::font_decoration_overline);
        const QFontMetrics metrics(*font);
        if (fm) {
            fm->ascent = metrics.ascent();
            fm->descent = metrics.descent();
            fm->height = metrics.height();
            fm->x_height = metrics.xHeight();
            fm->draw_spaces = decoration != litehtml::font_decoration_none;
        }
        return reinterpret_cast<litehtml::uint_ptr>(font.release());
    }
    void delete_font(litehtml::uint_ptr font) override { delete reinterpret_cast<QFont*>(font); }
    int text_width(const char* text, litehtml::uint_ptr font) override {
        return QFontMetrics(*reinterpret_cast<QFont*>(font)).horizontalAdvance(QString::fromUtf8(text));
    }
    void draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr font,
                   litehtml::web_color color, const litehtml::position& pos) override {
        auto* painter = reinterpret_cast<QPainter*>(hdc);
        const QFont& f = *reinterpret_cast<QFont*>(font);
        painter->setFont(f);
        painter->setPen(colourOf(color));
        painter->drawText(QPoint(pos.x, pos.y + QFontMetrics(f).ascent()), QString::fromUtf8(text));
    }
    int pt_to_px(int pt) const override { return pt * 96 / 72; }
    int get_default_font_size() const override { return 16; }
    const char* get_default_font_name() const override { return "sans-serif"; }
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override {
        auto* painter = reinterpret_cast<QPainter*>(hdc);
        painter->setPen(Qt::NoPen);
        painter->setBrush(colourOf(marker.color));
        painter->drawEllipse(rectOf(marker.pos));
    }
    void load_image(const char*, const char*, bool) override {}
    void get_image_size(const char*, const char*, litehtml::size& size) override {
        size.width = 0;
        size.height = 0;
    }
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override {
        if (bg.color.alpha == 0)
            return;
        reinterpret_cast<QPainter*>(hdc)->fillRect(rectOf(bg.clip_box), colourOf(bg.color));
    }
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& b,
                      const litehtml::position& p, bool) override {
        auto* painter = reinterpret_cast<QPainter*>(hdc);
        const QRect r = rectOf(p);
        if (b.top.width > 0)
            painter->fillRect(r.left(), r.top(), r.width(), b.top.width, colourOf(b.top.color));
        if (b.bottom.width > 0)
            painter->fillRect(r.left(), r.bottom() + 1 - b.bottom.width, r.width(), b.bottom.width,
                              colourOf(b.bottom.color));
        if (b.left.width > 0)
            painter->fillRect(r.left(), r.top(), b.left.width, r.height(), colourOf(b.left.color));
        if (b.right.width > 0)
            painter->fillRect(r.right() + 1 - b.right.width, r.top(), b.right.width, r.height(),
                              colourOf(b.right.color));
    }
    void set_caption(const char*) override {}
    void set_base_url(const char*) override {}
    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const char*, const litehtml::element::ptr&) override {}
    void set_cursor(const char*) override {}
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override {
        if (tt == litehtml::text_transform_uppercase)
            text = QString::fromStdString(text).toUpper().toStdString();
        else if (tt == litehtml::text_transform_lowercase)
            text = QString::fromStdString(text).toLower().toStdString();
    }
    void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}
    void set_clip(const litehtml::position&, const litehtml::border_radiuses&, bool, bool) override {}
    void del_clip() override {}
    void get_client_rect(litehtml::position& client) const override {
        client = litehtml::position(0, 0, stripWidth, stripHeight);
    }
    std::shared_ptr<litehtml::element> create_element(const char*, const litehtml::string_map&,
                                                      const std::shared_ptr<litehtml::document>&) override {
        return nullptr;
    }
    void get_media_features(litehtml::media_features& media) const override {
        media.type = litehtml::media_type_screen;
        media.width = media.device_width = stripWidth;
        media.height = media.device_height = stripHeight;
        media.color = 8;
        media.resolution = 96;
    }
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
        language = "en";
        culture.clear();
    }
};

struct Timing {
    double parseMs, layoutMs, paintMs;
    int height;
    QImage screen;
};

Timing withLitehtml(const QByteArray& html, litehtml::context& context, Container& container) {
    QElapsedTimer clock;
    clock.start();
    litehtml::document::ptr document =
        litehtml::document::createFromUTF8(html.constData(), &container, &context);
    Timing t{};
    t.parseMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    document->render(stripWidth);
    t.layoutMs = clock.nsecsElapsed() / 1e6;
    t.height = document->height();
    clock.restart();
    QImage screen(stripWidth, stripHeight, QImage::Format_RGB32);
    screen.fill(Qt::white);
    QPainter painter(&screen);
    const litehtml::position clip(0, 0, stripWidth, stripHeight);
    document->draw(reinterpret_cast<litehtml::uint_ptr>(&painter), 0, 0, &clip);
    painter.end();
    t.paintMs = clock.nsecsElapsed() / 1e6;
    t.screen = screen;
    return t;
}

Timing withRichText(const QString& html) {
    QElapsedTimer clock;
    clock.start();
    QTextDocument document;
    document.setUndoRedoEnabled(false);
    document.setHtml(html);
    Timing t{};
    t.parseMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    document.setTextWidth(stripWidth);
    t.height = int(document.size().height()); // lays the whole document out
    t.layoutMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    QImage screen(stripWidth, stripHeight, QImage::Format_RGB32);
    screen.fill(Qt::white);
    QPainter painter(&screen);
    document.drawContents(&painter, QRectF(0, 0, stripWidth, stripHeight));
    painter.end();
    t.paintMs = clock.nsecsElapsed() / 1e6;
    t.screen = screen;
    return t;
}

// A field of /proc/self/smaps_rollup or /proc/self/status, in MB.
double memoryMb(const char* file, const char* field) {
    QFile f(QString::fromLatin1(file));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (qstrcmp(argv[1], "litehtml") != 0 && qstrcmp(argv[1], "richtext") != 0)) {
        std::fprintf(stderr, "usage: %s litehtml|richtext PAGE [runs]\n", argv[0]);
        return 64;
    }
    const bool lite = qstrcmp(argv[1], "litehtml") == 0;
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 66;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    // Font sizes without a unit are pixels to a browser (and to the light view); neither
    // engine reads them so on its own.
    bytes = QString::fromUtf8(bytes)
                .replace(QRegularExpression(QStringLiteral("(font-size\\s*:\\s*\\d+)(\\s*[;}])")),
                         QStringLiteral("\\1px\\2"))
                .toUtf8();
    QGuiApplication app(argc, argv);
    const double startMb = memoryMb("/proc/self/status", "VmRSS:");

    QElapsedTimer startClock;
    startClock.start();
    litehtml::context context;
    Container container;
    if (lite)
        context.load_master_stylesheet(masterCss);
    const double setupMs = startClock.nsecsElapsed() / 1e6;

    std::vector<double> parse, layout, paint, total;
    int height = 0;
    for (int run = 0; run < runs; ++run) {
        const Timing t = lite ? withLitehtml(bytes, context, container)
                              : withRichText(QString::fromUtf8(bytes));
        parse.push_back(t.parseMs);
        layout.push_back(t.layoutMs);
        paint.push_back(t.paintMs);
        total.push_back(t.parseMs + t.layoutMs + t.paintMs);
        height = t.height;
        if (run == runs - 1 && argc > 4)
            t.screen.save(QString::fromLocal8Bit(argv[4]));
        std::printf("run %d %-8s parse %7.1f ms  layout %7.1f ms  paint %6.1f ms  height %d px\n",
                    run + 1, argv[1], t.parseMs, t.layoutMs, t.paintMs, t.height);
    }
    std::printf("median of %d: %s set-up %.1f ms, parse %.1f ms, layout %.1f ms, paint %.1f ms, "
                "total %.1f ms; page %d px high; resident %.1f MB (%.1f MB before the page), "
                "PSS %.1f MB\n",
                runs, argv[1], setupMs, median(parse), median(layout), median(paint),
                median(total), height, memoryMb("/proc/self/status", "VmRSS:"), startMb,
                memoryMb("/proc/self/smaps_rollup", "Pss:"));
    return 0;
}
