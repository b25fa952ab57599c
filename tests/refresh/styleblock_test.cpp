#include "refresh/settings.h"
#include "store/displaysettings.h"
#include "store/settingsdefaults.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

Settings defaults() {
    Settings s;
    s.heading = defaultStyleValue("heading");
    s.link = defaultStyleValue("link");
    s.visited = defaultStyleValue("visited");
    s.hover = defaultStyleValue("hover");
    s.body = defaultStyleValue("body");
    s.bDate = defaultStyleValue("bDate");
    return s;
}

TEST(StyleBlock, CopiesValuesInTheirFormUnchanged) {
    Settings s = defaults();
    s.heading = "font-family:\"Segoe UI\", sans-serif;font-size:12.5;color:#1a2B3c;"
                "font-weight:BOLD;font-style:italic;";
    s.body = "font-family: DejaVu Sans ; font-size: 9; color:#000000;font-weight:normal;"
             "font-style:normal;background-color:#FFFFFF";
    s.hover = "color:#00FF00;font-weight:normal;font-style:normal";
    EXPECT_EQ(buildStyleBlock(s).toStdString(),
              ("<style>.heading{" + s.heading + "}a{" + s.link + "}a:visited{" + s.visited +
               "}a:hover{" + s.hover + "}body{" + s.body + "}.bDate{" + s.bDate + "}</style>")
                  .toStdString());
}

TEST(StyleBlock, GivesEachFieldOutOfItsFormItsDefault) {
    struct Case {
        const char* attribute;
        const char* stored;
        const char* used;
    };
    const Case cases[] = {
        // A '}' that would end the rule and load a remote image.
        {"body",
         "font-family:arial}body{background:url(http://evil.example/x.png)}x{;font-size:11;"
         "color:#000000;font-weight:normal;font-style:normal;background-color:#FFFFFF",
         "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:normal;"
         "background-color:#FFFFFF"},
        {"heading",
         "font-family:Arial};font-size:12;color:#000000;font-weight:bold;font-style:normal;",
         "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;"},
        {"heading",
         "font-family:x</style><script>;font-size:12px;color:red;font-weight:900;"
         "font-style:oblique;",
         "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;"},
        {"link",
         "font-family:\"Open Sans;font-size:14;color:#0000FFaa;font-weight:bold;"
         "font-style:normal;",
         "font-family:arial;font-size:14;color:#0000FF;font-weight:bold;font-style:normal;"},
        // Fields in the wrong place, missing or one too many.
        {"hover", "font-weight:bold;color:#123456;font-style:normal;",
         "color:#FF0000;font-weight:bold;font-style:normal;"},
        {"visited", "color:#123456", "color:#123456;font-weight:bold;font-style:normal;"},
        {"bDate",
         "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic;"
         "background-image:url(http://evil.example/y.png)",
         "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic"},
        {"bDate", "",
         "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic"},
        {"heading",
         "font-family:a\\7d b;font-size:12;color:#000000;font-weight:bold;"
         "font-style:normal;",
         "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkedStyleValue(c.attribute, QString::fromUtf8(c.stored)).toStdString(), c.used)
            << c.attribute << ": " << c.stored;
    EXPECT_TRUE(checkedStyleValue("other", "color:#000000").isEmpty());

    Settings s = defaults();
    s.body = cases[0].stored;
    s.link = "}*{background:url(//evil.example/z)";
    const QString block = buildStyleBlock(s);
    EXPECT_FALSE(block.contains("url(")) << block.toStdString();
    EXPECT_EQ(block.count(u'{'), 6);
    EXPECT_EQ(block.count(u'}'), 6);
    EXPECT_EQ(buildStyleBlock(defaults()), defaultStyleBlock());
}

} // namespace
} // namespace quorvel
