#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "reader/refreshrunner.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

// A fetcher whose requests hang until released and that cancelling does not reach: a
// worker stuck where no cancel() helps.
struct StuckFetcher : Fetcher {
    std::atomic<bool> entered = false, released = false;

    std::unique_ptr<FetchBatch> start(const QStringList& urls) override {
        return std::make_unique<Batch>(*this, std::size_t(urls.size()));
    }
    void cancel() override {}

    struct Batch : FetchBatch {
        Batch(StuckFetcher& owner, std::size_t size) : owner(owner), count(size) {}
        std::size_t size() const override { return count; }
        FetchResult take(std::size_t) override {
            owner.entered = true;
            while (!owner.released)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return FetchResult{.error = "released"};
        }
        StuckFetcher& owner;
        std::size_t count;
    };
};

TEST(RefreshRunner, ShutdownWaitsForAStuckWorkerNoLongerThanItsGracePeriod) {
    QTemporaryDir dir;
    FeedStore store(dir.path());
    RecordingPort port;
    StuckFetcher stuck;
    const auto release = qScopeGuard([&] { stuck.released = true; });
    RefreshRunner runner(store, stuck, port, QStringLiteral("http://127.0.0.1:1/probe"));
    ASSERT_TRUE(runner.request());
    ASSERT_TRUE(waitUntil([&] { return stuck.entered.load(); }, 10000));

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(runner.shutdown());
    EXPECT_GE(clock.elapsed(), RefreshRunner::kShutdownGraceMs - 100);
    EXPECT_LT(clock.elapsed(), RefreshRunner::kShutdownGraceMs + 2000);
    EXPECT_TRUE(runner.isBusy()) << "the worker is still in the cycle";
    EXPECT_FALSE(runner.request()) << "no cycle after shutdown";

    clock.restart();
    EXPECT_FALSE(runner.shutdown(300)) << "asked again, it still leaves";
    EXPECT_LT(clock.elapsed(), 2000);
    stuck.released = true;
    ASSERT_TRUE(waitUntil([&] { return !runner.isBusy(); }, 10000));
    EXPECT_TRUE(runner.shutdown());
}

} // namespace
} // namespace quorvel
