#include "platform/htmlsanitizer.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

std::string clean(const char* html) {
    return sanitizeHtml(QString::fromUtf8(html)).toStdString();
}

} // namespace

TEST(SanitizeHtml, PlainTextComesBackUnchanged) {
    EXPECT_EQ(clean("Mon, 01 Jan 2024 10:00:00 GMT"), "Mon, 01 Jan 2024 10:00:00 GMT");
    EXPECT_EQ(clean("3 > 2 \"quoted\""), "3 > 2 \"quoted\"");
    EXPECT_EQ(clean(""), "");
}

TEST(SanitizeHtml, TextIsEscapedAndEntitiesDecoded) {
    EXPECT_EQ(clean("Tom & Jerry"), "Tom &amp; Jerry");
    EXPECT_EQ(clean("a &lt; b &amp;&amp; c"), "a &lt; b &amp;&amp; c");
    EXPECT_EQ(clean("caf&eacute;&nbsp;&#8212;"), "café\u00A0—");
    EXPECT_EQ(clean("&bogus; stays"), "&amp;bogus; stays");
    EXPECT_EQ(clean("1 < 2"), "1 &lt; 2");
}

TEST(SanitizeHtml, OrdinaryFormattingIsKept) {
    const char* html =
        "<p>Some <b>bold</b>, <i>italic</i> and <a href=\"http://x.com/a?b=1&amp;c=2\" "
        "title=\"T\">a link</a>.</p><ul><li>one</li></ul><blockquote "
        "cite=\"https://q/\">q</blockquote>";
    EXPECT_EQ(clean(html), html);
    EXPECT_EQ(clean("<table border=\"1\"><tbody><tr><td colspan=\"2\">x</td></tr></tbody></table>"),
              "<table border=\"1\"><tbody><tr><td colspan=\"2\">x</td></tr></tbody></table>");
}

TEST(SanitizeHtml, ScriptsStylesFramesAndFormsGoWithTheirContent) {
    EXPECT_EQ(clean("a<script>alert('x')</script>b"), "ab");
    EXPECT_EQ(clean("a<style>body{display:none}</style>b"), "ab");
    EXPECT_EQ(clean("a<iframe src=\"http://evil/\">inner</iframe>b"), "ab");
    EXPECT_EQ(clean("<object data=\"x\"><embed src=\"y\"></object>ok"), "ok");
    EXPECT_EQ(clean("safe<embed src=\"x\"> description"), "safe description");
    EXPECT_EQ(clean("<form action=\"/\"><input name=\"q\"><button>Go</button>"
                    "<select><option>1</option></select><textarea>t</textarea></form>after"),
              "after");
    EXPECT_EQ(clean("<svg><circle/></svg><math><mi>x</mi></math>x"), "x");
    EXPECT_EQ(clean("<title>t</title><meta charset=\"x\"><link rel=\"x\">body"), "body");
    EXPECT_EQ(clean("<SCRIPT>alert(1)</SCRIPT>ok"), "ok");
}

TEST(SanitizeHtml, EventStyleAndIdAttributesAreRemoved) {
    EXPECT_EQ(clean("<p onclick=\"steal()\" style=\"color:red\" class=\"c\" id=\"i\">x</p>"),
              "<p>x</p>");
    EXPECT_EQ(clean("<img src=\"a.png\" onerror=\"x()\" OnLoad=\"y()\" alt=\"A\">"),
              "<img src=\"a.png\" alt=\"A\">");
}

TEST(SanitizeHtml, UrlsWithOtherSchemesAreDropped) {
    EXPECT_EQ(clean("<a href=\"javascript:alert(1)\">x</a>"), "<a>x</a>");
    EXPECT_EQ(clean("<a href=\" JAVASCRIPT:alert(1)\">x</a>"), "<a>x</a>");
    EXPECT_EQ(clean("<a href=\"java&#9;script:alert(1)\">x</a>"), "<a>x</a>");
    EXPECT_EQ(clean("<a href=\"jav&#x61;script:alert(1)\">x</a>"), "<a>x</a>");
    EXPECT_EQ(clean("<img src=\"data:image/png;base64,AAAA\">"), "<img>");
    EXPECT_EQ(clean("<a href=\"vbscript:x\">x</a>"), "<a>x</a>");
    EXPECT_EQ(clean("<a href=\"mailto:a@b.c\">m</a>"), "<a href=\"mailto:a@b.c\">m</a>");
    EXPECT_EQ(clean("<a href=\"/relative/path\">r</a>"), "<a href=\"/relative/path\">r</a>");
    EXPECT_EQ(clean("<a href=\"#top\">t</a>"), "<a href=\"#top\">t</a>");
}

TEST(SanitizeHtml, UnknownElementsLoseTheirTagsButKeepTheirContent) {
    EXPECT_EQ(clean("<custom-tag><b>x</b></custom-tag>"), "<b>x</b>");
    EXPECT_EQ(clean("<article><section><p>deep</p></section></article>"), "<p>deep</p>");
    EXPECT_EQ(clean("<!-- comment --><b>x</b>"), "<b>x</b>");
}

TEST(SanitizeHtml, BrokenMarkupIsClosedAndVoidElementsStayVoid) {
    EXPECT_EQ(clean("<b>bold"), "<b>bold</b>");
    EXPECT_EQ(clean("a<br/>b<br>c<hr />"), "a<br>b<br>c<hr>");
    // End tags of the wrapper the fragment is parsed in leave no trace and lose nothing.
    const std::string stray = clean("x</div></body></html>y");
    EXPECT_EQ(stray.find("body"), std::string::npos) << stray;
    EXPECT_EQ(stray.find("html"), std::string::npos) << stray;
    EXPECT_EQ(stray.front(), 'x');
    EXPECT_NE(stray.find('y'), std::string::npos);
    EXPECT_EQ(clean("text <a"), "text <a></a>");
    EXPECT_EQ(clean("<a href='x' title='say \"hi\"'>q</a>"),
              "<a href=\"x\" title=\"say &quot;hi&quot;\">q</a>");
}

TEST(SanitizeHtml, PresentationalAttributesStayWhereTheyBelong) {
    EXPECT_EQ(clean("<font color=\"red\" face=\"Arial\" size=\"2\">f</font>"),
              "<font color=\"red\" face=\"Arial\" size=\"2\">f</font>");
    EXPECT_EQ(clean("<ol start=\"3\" type=\"a\"><li>x</li></ol>"),
              "<ol start=\"3\" type=\"a\"><li>x</li></ol>");
    EXPECT_EQ(clean("<p color=\"red\" type=\"x\" start=\"1\">p</p>"), "<p>p</p>");
}

TEST(SanitizeHtml, SanitisingTwiceChangesNothing) {
    const char* inputs[] = {
        "<p>a<div>b</div>c</p>",
        "<p><foo><div>x</div></foo></p>",
        "<ul> <li>a <li>b</ul> tail",
        "<table><tr><td>a</td></tr>text</table>",
        "text before</body>text after",
        "<pre>\n  code\n</pre>",
        "<b><i>overlap</b></i>",
        "<a href=\"x\"><a href=\"y\">nested</a></a>",
        "&amp;lt;script&amp;gt; &lt;b&gt;",
        "<p>para<p>para2",
        "<dl><dt>t<dd>d</dl>",
        "<h1>one<h2>two</h2></h1>",
        "<span><center>x</center></span>",
        "<font><table><tr><td>x</td></tr></table></font>",
    };
    for (const char* input : inputs) {
        const QString once = sanitizeHtml(QString::fromUtf8(input));
        EXPECT_EQ(sanitizeHtml(once).toStdString(), once.toStdString()) << input;
    }
}

TEST(SanitizeHtml, WorksFromManyThreadsAtOnce) {
    const QString input = QStringLiteral("<p onclick='x'>Hello <b>world</b><script>x</script></p>");
    const QString expected = QStringLiteral("<p>Hello <b>world</b></p>");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                if (sanitizeHtml(input) != expected)
                    ++wrong;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(EscapeAttribute, EscapesBothQuotesAndMarkup) {
    EXPECT_EQ(escapeAttribute("a&b<c>d\"e'f").toStdString(), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
    EXPECT_EQ(escapeAttribute(QString::fromUtf8("plain café")), QString::fromUtf8("plain café"));
}

TEST(SafeUrl, KeepsWebAndMailLinksAndRelativeOnes) {
    for (const char* url :
         {"http://example.com/", "HTTPS://example.com/x?y#z", "mailto:a@b.c", "/path", "page.html",
          "#anchor", "", "//cdn.example.com/x", "path/with:colon", "?q=a:b"})
        EXPECT_EQ(safeUrl(QString::fromUtf8(url)).toStdString(), url);
}

TEST(SafeUrl, ReplacesEveryOtherSchemeWithAnAnchor) {
    for (const char* url : {"javascript:alert(1)", " JAVASCRIPT:alert(1)", "java\tscript:x",
                            "java\nscript:x", "\x01javascript:x", "data:text/html,x", "vbscript:x",
                            "file:///etc/passwd", "ftp://x/", "C:\\x"})
        EXPECT_EQ(safeUrl(QString::fromUtf8(url)), QStringLiteral("#")) << url;
}

namespace quorvel {
namespace {

TEST(HtmlSanitizerFastPath, WritesWhatTheParserWrites) {
    for (const char* html :
         {"<p>A <b>bold</b> &amp; <a href=\"http://e/x\" onclick=\"x()\">link</a>.</p>",
          "<P ALIGN='left'>Upper <I>case</I></P><BR/><img src='http://e/i.png' alt=\"a > b\">",
          "text with a > sign and <br> breaks", "<a href='javascript:alert(1)'>x</a>",
          "<ul><li>one</li><li>two</li></ul>", "<p>unclosed <b>bold</p>", "<p><div>x</div></p>",
          "&nbsp;entity", "<!-- comment -->text", "<script>x</script>y", "<unknown>z</unknown>"})
        EXPECT_EQ(sanitizeHtml(html).toStdString(), sanitizeHtmlWithParser(html).toStdString())
            << html;
}

} // namespace
} // namespace quorvel
