#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <QString>
#include <QStringList>

#include "app/headlessport.h"

namespace quorvel {
namespace {

// What a HeadlessPort prints for the calls that drive(port) makes.
template <typename Drive> QString printed(Drive drive) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    {
        HeadlessPort port(out);
        drive(port);
    }
    std::fclose(out);
    const QString text = QString::fromUtf8(buffer, qsizetype(size));
    std::free(buffer);
    return text;
}

TEST(PrintableText, ReplacesEveryControlCharacterAndKeepsTheRest) {
    const struct {
        QString in, out;
    } cases[] = {
        {"plain \u00e9 \u4e2d \U0001F600 text", "plain \u00e9 \u4e2d \U0001F600 text"},
        {"tab\there", "tab here"},
        {"para\u2028line\u2029end\u0085next", "para line end next"},
        {"\x1b[2J\x1b]0;owned\x07", "\ufffd[2J\ufffd]0;owned\ufffd"},
        {"csi\u009b31mred\u009dosc", "csi\ufffd31mred\ufffdosc"},
        {QString("nul") + QChar(0) + "del\x7f", "nul\ufffddel\ufffd"},
        {"cr\rlf\nvt\vff\f", "cr\ufffdlf\ufffdvt\ufffdff\ufffd"},
        {"edges \u001f\u0020 \u007e\u00a0\u009f", "edges \ufffd  ~\u00a0\ufffd"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(printableText(c.in).toStdString(), c.out.toStdString());
}

TEST(HeadlessPort, PrintsEachTitleTipAndMessageAsOneLineWithoutControlCharacters) {
    const QString forged = "Headline\r\nFAKE\x1b[1A\u009b2K\u2028next\tend";
    const QString out = printed([&](HeadlessPort& port) {
        port.setTitle("Quorvel RSS Reader " + forged);
        port.setTrayTip("Quorvel RSS Reader\r\n" + forged + QChar(0) + "after the end");
        port.prompt(Message{"Error", "The page could not be written.\n" + forged,
                            MessageButtons::Ok, MessageIcon::Exclamation});
    });

    EXPECT_EQ(out.split('\n', Qt::SkipEmptyParts),
              QStringList({"title: Quorvel RSS Reader Headline\ufffd\ufffdFAKE\ufffd[1A\ufffd2K "
                           "next end",
                           "tip: Quorvel RSS Reader | Headline | FAKE\ufffd[1A\ufffd2K next end",
                           "Error: The page could not be written. | Headline | FAKE\ufffd[1A"
                           "\ufffd2K next end"}));
}

} // namespace
} // namespace quorvel
