#include "refresh/settings.h"
#include "store/displaysettings.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(StyleBlock, CopiesValuesInTheirFormUnchangedAndGivesTheOthersTheirDefaults) {
    Settings s;
    s.heading = "font-family:\"Segoe UI\", sans-serif;font-size:12.5;color:#1a2B3c;"
                "font-weight:BOLD;font-style:italic;";
    s.link = "font-family:arial;font-size:11;color:#0000FF;font-weight:normal;font-style:normal";
    s.visited = "color:#800080;font-weight:normal;font-style:italic;";
    s.hover = "color:#00FF00;font-weight:normal;font-style:normal";
    s.body = "font-family: DejaVu Sans ; font-size: 9; color:#000000;font-weight:normal;"
             "font-style:normal;background-color:#FFFFFF";
    s.bDate = "font-family:arial;font-size:8;color:#808080;font-weight:normal;font-style:italic;";
    EXPECT_EQ(buildStyleBlock(s).toStdString(),
              ("<style>.heading{" + s.heading + "}a{" + s.link + "}a:visited{" + s.visited +
               "}a:hover{" + s.hover + "}body{" + s.body + "}.bDate{" + s.bDate + "}</style>")
                  .toStdString());

    // A '}' that would end the rule and load a remote image, in every value.
    for (QString* value : {&s.heading, &s.link, &s.visited, &s.hover, &s.body, &s.bDate})
        *value = "}*{background:url(//evil.example/z)";
    EXPECT_EQ(buildStyleBlock(s), defaultStyleBlock());
}

TEST(StyleBlock, GivesEachFieldOutOfItsFormItsDefault) {
    struct Case {
        const char* attribute;
        const char* stored;
        const char* used;
    };
    const Case cases[] = {
        {"body",
         "font-family:arial}body{background:url(http://evil.example/x.png)}x{;font-size:11;"
         "color:#000000;font-weight:normal;font-style:normal;background-color:#FFFFFF",
         "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:normal;"
         "background-color:#FFFFFF"},
        {"heading",
         "font-family:x</style><script>;font-size:12px;color:red;font-weight:900;"
         "font-style:oblique;",
         "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;"},
        {"link",
         "font-family:\"Open Sans;font-size:14;color:#0000FFaa;font-weight:bold;"
         "font-style:normal;",
         "font-family:arial;font-size:14;color:#0000FF;font-weight:bold;font-style:normal;"},
        {"heading",
         "font-family:a\\7d b;font-size:12;color:#000000;font-weight:bold;font-style:normal;",
         "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;"},
        // Fields in the wrong place, missing or one too many.
        {"hover", "font-weight:bold;color:#123456;font-style:normal;",
         "color:#FF0000;font-weight:bold;font-style:normal;"},
        {"visited", "color:#123456", "color:#123456;font-weight:bold;font-style:normal;"},
        {"bDate",
         "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic;"
         "background-image:url(http://evil.example/y.png)",
         "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkedStyleValue(c.attribute, QString::fromUtf8(c.stored)).toStdString(), c.used)
            << c.attribute << ": " << c.stored;
    EXPECT_TRUE(checkedStyleValue("other", "color:#000000").isEmpty());
}

} // namespace
} // namespace quorvel
