// Sanitising one description: an ordinary 50 KB article and the inputs that make a parser
// search its open elements (deep nesting, end tags that close nothing) at 1 MB and 16 MiB.
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true for medians.

#include <benchmark/benchmark.h>

#include <QString>
#include <QUrl>

#include "refresh/htmlsanitizer.h"

namespace {

using namespace quorvel;

QString repeatedTo(const QString& piece, qsizetype bytes) {
    QString text;
    text.reserve(bytes + piece.size());
    while (text.size() < bytes)
        text += piece;
    return text;
}

// An article as feeds carry it: paragraphs with links, emphasis, images, a list, entities.
QString ordinaryArticle(qsizetype bytes) {
    return repeatedTo(
        QStringLiteral(
            "<p>The <b>council</b> met on Tuesday &amp; agreed to the <a "
            "href=\"https://news.example.org/plan?id=7&amp;x=1\" title=\"Plan\">new plan</a>. "
            "<img src=\"/img/photo.jpg\" alt=\"Photo\" width=\"300\"> It costs &euro;4&nbsp;m, "
            "says <i>Ms Example</i>.</p>\n<ul><li>First point</li><li>Second <em>point</em></li>"
            "</ul><blockquote>We are &ldquo;pleased&rdquo;.</blockquote>\n"),
        bytes);
}

void run(benchmark::State& state, const QString& text) {
    const QUrl base(QStringLiteral("https://news.example.org/feed.xml"));
    for (auto _ : state)
        benchmark::DoNotOptimize(sanitizeHtml(text, base));
    state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_OrdinaryArticle(benchmark::State& state) {
    run(state, ordinaryArticle(state.range(0)));
}

void BM_NestedDivs(benchmark::State& state) {
    run(state, repeatedTo(QStringLiteral("<div>"), state.range(0)));
}

void BM_BoldThenStrayItalicEnds(benchmark::State& state) {
    const qsizetype half = state.range(0) / 2;
    run(state, repeatedTo(QStringLiteral("<b>"), half) + repeatedTo(QStringLiteral("</i>"), half));
}

void BM_UnknownElements(benchmark::State& state) {
    run(state, repeatedTo(QStringLiteral("<x-a><div>"), state.range(0)));
}

void BM_RepeatedAttributes(benchmark::State& state) {
    run(state, QStringLiteral("<b ") + repeatedTo(QStringLiteral("a=1 "), state.range(0)) + ">");
}

void BM_Entities(benchmark::State& state) {
    run(state, repeatedTo(QStringLiteral("&nbsp;&#x41;&amp;<"), state.range(0)));
}

constexpr int kb = 1024;
BENCHMARK(BM_OrdinaryArticle)->Arg(50 * kb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NestedDivs)
    ->Arg(64 * kb)
    ->Arg(1000 * kb)
    ->Arg(16384 * kb)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoldThenStrayItalicEnds)
    ->Arg(64 * kb)
    ->Arg(1000 * kb)
    ->Arg(16384 * kb)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnknownElements)->Arg(1000 * kb)->Arg(16384 * kb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepeatedAttributes)->Arg(1000 * kb)->Arg(16384 * kb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Entities)->Arg(1000 * kb)->Arg(16384 * kb)->Unit(benchmark::kMillisecond);

} // namespace
