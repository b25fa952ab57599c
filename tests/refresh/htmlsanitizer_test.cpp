#include "refresh/htmlsanitizer.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

std::string clean(const char* html) {
    return sanitizeHtml(QString::fromUtf8(html)).toStdString();
}

void expectCleaned(std::initializer_list<std::pair<const char*, const char*>> cases) {
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(clean(input), expected) << input;
}

TEST(SanitizeHtml, KeepsTextAndFormattingEscapedAndDecoded) {
    const char* formatted =
        "<p>Some <b>bold</b> and <a href=\"http://x.com/a?b=1&amp;c=2\" title=\"T\">a link</a>."
        "</p><ul><li>one</li></ul><table border=\"1\"><tbody><tr><td colspan=\"2\">x</td></tr>"
        "</tbody></table><font color=\"red\">f</font><ol start=\"3\"><li>x</li></ol>";
    expectCleaned({{"", ""},
                   {"3 > 2 \"quoted\"", "3 > 2 \"quoted\""},
                   {"Tom & Jerry 1 < 2", "Tom &amp; Jerry 1 &lt; 2"},
                   {"caf&eacute;&nbsp;&#8212; &bogus;", "café\u00A0— &amp;bogus;"},
                   {formatted, formatted},
                   {"<p color=\"red\" start=\"1\">p</p>", "<p>p</p>"},
                   {"<custom-tag><b>x</b></custom-tag><!-- c -->", "<b>x</b>"},
                   {"<b>bold", "<b>bold</b>"},
                   {"a<br/>b<hr />", "a<br>b<hr>"},
                   {"<a href='x' title='say \"hi\"'>q</a>",
                    "<a href=\"x\" title=\"say &quot;hi&quot;\">q</a>"}});
    EXPECT_EQ(escapeAttribute("a&b<c>d\"e'f").toStdString(), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
}

TEST(SanitizeHtml, RemovesCodeWithItsInsidesAndFramesAndFormsAroundTheirText) {
    expectCleaned(
        {{"a<script>alert('x')</script>b", "ab"},
         {"a<SCRIPT>alert(1)</SCRIPT>b", "ab"},
         {"a<style>body{display:none}</style>b", "ab"},
         {"<template><b>t</b></template><noscript>n</noscript><applet>a</applet>x", "x"},
         {"a<iframe src=\"http://evil/\">inner</iframe>b", "ainnerb"},
         {"<object data=\"x\"><embed src=\"y\">fallback</object>ok", "fallbackok"},
         {"<form action=\"/\"><input name=\"q\"><button>Go</button><textarea>T</textarea>"
          "<select><option>O</option></select></form>after",
          "GoTOafter"},
         {"<svg><circle/></svg><title>t</title><meta http-equiv=\"refresh\" content=\"0\">"
          "<link rel=\"stylesheet\" href=\"x\"><base href=\"http://evil/\">x",
          "x"},
         {"<p onclick=\"steal()\" style=\"color:red\" class=\"c\" id=\"i\">x</p>", "<p>x</p>"},
         {"<img src=\"a.png\" onerror=\"x()\" OnLoad=\"y()\" alt=\"A\">",
          "<img src=\"a.png\" alt=\"A\">"}});
    const std::string stray = clean("x</div></body></html>y");
    EXPECT_TRUE(stray.find("body") == std::string::npos && stray.front() == 'x' &&
                stray.find('y') != std::string::npos)
        << stray;
}

TEST(SanitizeHtml, DropsLinksOfOtherSchemesButKeepsWebMailAndRelativeOnes) {
    expectCleaned(
        {{"<a href=\"javascript:alert(1)\">x</a>", "<a>x</a>"},
         {"<a href=\" JAVASCRIPT:alert(1)\">x</a>", "<a>x</a>"},
         {"<a href=\"java&#9;script:alert(1)\">x</a>", "<a>x</a>"},
         {"<a href=\"jav&#x61;script:alert(1)\">x</a>", "<a>x</a>"},
         {"<img src=\"data:image/png;base64,AAAA\">", "<img src=\"data:image/png;base64,AAAA\">"},
         {"<a href=\"data:image/png;base64,AAAA\">x</a>", "<a>x</a>"},
         {"<img src=\"data:text/html,<script>x</script>\">", "<img>"},
         {"<a href=\"mailto:a@b.c\">m</a>", "<a href=\"mailto:a@b.c\">m</a>"},
         {"<a href=\"/relative/path\">r</a>", "<a href=\"/relative/path\">r</a>"}});
    for (const char* url : {"http://e.com/", "HTTPS://e.com/x?y#z", "mailto:a@b.c", "page.html",
                            "#anchor", "//cdn.e.com/x", "path/with:colon", "?q=a:b"})
        EXPECT_EQ(safeUrl(QString::fromUtf8(url)).toStdString(), url);
    for (const char* url : {"javascript:alert(1)", "java\nscript:x", "\x01javascript:x",
                            "vbscript:x", "file:///etc/passwd", "ftp://x/", "C:\\x"})
        EXPECT_EQ(safeUrl(QString::fromUtf8(url)), QStringLiteral("#")) << url;
}

TEST(SanitizeHtml, ResolvesRelativeUrlsAgainstTheFeedAndCleansEachSrcsetCandidate) {
    const QUrl feed("http://news.example.com/feeds/main.xml");
    auto cleanAt = [&](const char* html) {
        return sanitizeHtml(QString::fromUtf8(html), feed).toStdString();
    };
    EXPECT_EQ(cleanAt("<img src=\"pic/a.png\"><a href=\"/story?id=1\">s</a><a href=\"#top\">t</a>"),
              "<img src=\"http://news.example.com/feeds/pic/a.png\">"
              "<a href=\"http://news.example.com/story?id=1\">s</a><a href=\"#top\">t</a>");
    EXPECT_EQ(cleanAt("<img src=\"//cdn.example.net/x.png\">"),
              "<img src=\"http://cdn.example.net/x.png\">");
    EXPECT_EQ(cleanAt("<picture><source srcset=\"a.webp 1x, javascript:x 2x,"
                      "data:image/gif;base64,R0 3x\" type=\"image/webp\" onerror=\"x()\">"
                      "<img src=\"a.png\" srcset=\"file:///etc/x 1x\"></picture>"
                      "<time datetime=\"2024-01-01\">New year</time>"),
              "<picture><source srcset=\"http://news.example.com/feeds/a.webp 1x, "
              "data:image/gif;base64,R0 3x\" type=\"image/webp\">"
              "<img src=\"http://news.example.com/feeds/a.png\"></picture>"
              "<time datetime=\"2024-01-01\">New year</time>");
    // A feed read from a file gives no base: relative URLs stay as they are.
    EXPECT_EQ(sanitizeHtml("<img src=\"a.png\">", QUrl::fromLocalFile("/tmp/f.xml")).toStdString(),
              "<img src=\"a.png\">");
    EXPECT_EQ(safeUrl("item/2", feed).toStdString(), "http://news.example.com/feeds/item/2");
    EXPECT_EQ(safeUrl("#", feed).toStdString(), "#");
}

TEST(SanitizeHtml, IsIdempotentAndItsFastPathWritesWhatTheParserWrites) {
    auto idempotent = [](const char* input) {
        const QString once = sanitizeHtml(QString::fromUtf8(input));
        EXPECT_EQ(sanitizeHtml(once).toStdString(), once.toStdString()) << input;
    };
    for (const char* input :
         {"<p>a<div>b</div>c</p>", "<p><foo><div>x</div></foo></p>", "<ul> <li>a <li>b</ul> tail",
          "<table><tr><td>a</td></tr>text</table>", "text before</body>text after",
          "<pre>\n  code\n</pre>", "<b><i>overlap</b></i>", "<a href=\"x\"><a href=\"y\">n</a></a>",
          "&amp;lt;script&amp;gt; &lt;b&gt;", "<p>para<p>para2", "<dl><dt>t<dd>d</dl>",
          "<h1>one<h2>two</h2></h1>", "<font><table><tr><td>x</td></tr></table></font>"})
        idempotent(input);
    for (const char* html :
         {"<p>A <b>bold</b> &amp; <a href=\"http://e/x\" onclick=\"x()\">link</a>.</p>",
          "<P ALIGN='left'>Upper <I>case</I></P><BR/><img src='http://e/i.png' alt=\"a > b\">",
          "text with a > sign and <br> breaks", "<a href='javascript:alert(1)'>x</a>",
          "<p>unclosed <b>bold</p>", "<p><div>x</div></p>", "&nbsp;entity", "<!-- c -->text",
          "<script>x</script>y", "<unknown>z</unknown>", "<b title=\"a\" title=\"b\">x</b>",
          "<ul><li>a<li>b</li></li></ul>", "<dl><dt>a<dd>b</dd></dt></dl>",
          "<table><tr><td>a<td>b</td></td></tr></table>", "<td>a<tr>b</tr></td>", "<b><p>x</p></b>",
          "<a href=\"x\"><table><tr><td>t</td></tr></table></a>",
          "<table><tbody><tr><td><ul><li><p>deep</p></li></ul></td></tr></tbody></table>"}) {
        idempotent(html);
        EXPECT_EQ(sanitizeHtml(html).toStdString(), sanitizeHtmlWithParser(html).toStdString())
            << html;
    }
}

} // namespace
} // namespace quorvel
