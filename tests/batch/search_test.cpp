// The searches over a grid: the seeded generator, the complete search, and
// the genetic search's determinism, budget and aim.
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "tester/batch/random.h"
#include "tester/batch/search.h"
#include "tester/data/error.h"

namespace torvik::tester {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(Random, IsPinnedAndUnbiased)
{
    // The same numbers on every machine and build: searches and samples
    // repeat from their seed.
    Random a(1), b(1), c(2);
    const uint64_t first = a.Next();
    EXPECT_EQ(first, b.Next());
    EXPECT_NE(first, c.Next());
    EXPECT_EQ(Random(0).Next(), 0x99ec5f36cb75f2b4ull);
    EXPECT_NE(StreamSeed(1, 0), StreamSeed(1, 1));
    EXPECT_EQ(StreamSeed(5, 3), StreamSeed(5, 3));

    Random r(7);
    constexpr uint64_t Buckets = 3, Draws = 30000;
    uint64_t counts[Buckets] = {};
    for (uint64_t i = 0; i < Draws; ++i) ++counts[r.Below(Buckets)];
    for (const uint64_t n : counts) EXPECT_NEAR(static_cast<double>(n), Draws / Buckets, Draws / Buckets * 0.05);
    for (int i = 0; i < 1000; ++i) {
        const double u = r.Unit();
        ASSERT_TRUE(u >= 0.0 && u < 1.0);
        ASSERT_LT(r.Below(1u << 20), 1u << 20);
    }
}

TEST(CompleteSearch, ProposesEveryPointOnce)
{
    CompleteSearch search(5);
    EXPECT_EQ(search.Next(), (std::vector<uint64_t>{0, 1, 2, 3, 4}));
    search.Take({1, 2, 3, 4, 5});
    EXPECT_TRUE(search.Next().empty());
}

// A smooth hill over a 20 x 20 x 20 grid with its top at (13, 4, 17).
double Hill(uint64_t point)
{
    const double x = static_cast<double>(point / 400), y = static_cast<double>(point / 20 % 20),
                 z = static_cast<double>(point % 20);
    return -((x - 13) * (x - 13) + (y - 4) * (y - 4) + (z - 17) * (z - 17));
}
constexpr uint64_t HillTop = 13 * 400 + 4 * 20 + 17;

// Runs a search to its end on a landscape; answers every point in the order proposed.
std::vector<uint64_t> Search(GeneticSearch& search, double (*landscape)(uint64_t))
{
    std::vector<uint64_t> proposed;
    for (int generation = 0; generation < 100000; ++generation) {
        const std::vector<uint64_t> points = search.Next();
        if (points.empty()) break;
        std::vector<double> scores;
        for (const uint64_t p : points) scores.push_back(landscape(p));
        search.Take(scores);
        proposed.insert(proposed.end(), points.begin(), points.end());
    }
    return proposed;
}

TEST(GeneticSearch, TheSameSeedSearchesTheSameWay)
{
    const GeneticSettings settings{1, 200, 20};
    GeneticSearch a({20, 20, 20}, settings, 11), b({20, 20, 20}, settings, 11), c({20, 20, 20}, settings, 12);
    const std::vector<uint64_t> first = Search(a, Hill);
    EXPECT_EQ(first, Search(b, Hill));
    EXPECT_NE(first, Search(c, Hill));
}

TEST(GeneticSearch, KeepsToItsBudgetWithoutRunningAPointTwice)
{
    for (const uint64_t passes : {1u, 7u, 150u}) {
        SCOPED_TRACE(passes);
        GeneticSearch search({20, 20, 20}, GeneticSettings{3, passes, 20}, 5);
        const std::vector<uint64_t> proposed = Search(search, Hill);
        EXPECT_EQ(proposed.size(), passes);
        EXPECT_EQ(std::set<uint64_t>(proposed.begin(), proposed.end()).size(), proposed.size());
        EXPECT_EQ(search.Passes(), passes);
        EXPECT_EQ(search.End(), SearchEnd::Budget);
        for (const uint64_t p : proposed) EXPECT_LT(p, 8000u);
    }
}

TEST(GeneticSearch, ClimbsToTheTopOfAHill)
{
    // 400 of the 8000 points; each seed must find the top.
    for (const uint64_t seed : {1u, 2u, 3u}) {
        GeneticSearch search({20, 20, 20}, GeneticSettings{seed, 400, 20}, seed);
        const std::vector<uint64_t> proposed = Search(search, Hill);
        EXPECT_NE(std::find(proposed.begin(), proposed.end(), HillTop), proposed.end()) << "seed " << seed;
    }
}

TEST(GeneticSearch, RunsAGridNoLargerThanItsBudgetWhole)
{
    GeneticSearch search({3, 4}, GeneticSettings{1, 12, 5}, 1);
    EXPECT_EQ(search.Next().size(), 12u);
    search.Take(std::vector<double>(12, 1.0));
    EXPECT_TRUE(search.Next().empty());
    EXPECT_EQ(search.End(), SearchEnd::Grid);
    EXPECT_EQ(search.Generations(), 1u);
}

TEST(GeneticSearch, StopsWhenNoGenerationImproves)
{
    // A flat landscape, failed runs everywhere: nothing is ever better.
    GeneticSearch flat({50, 50}, GeneticSettings{1, 2000, 10}, 1);
    Search(flat, [](uint64_t) { return 1.0; });
    EXPECT_EQ(flat.End(), SearchEnd::Stagnation);
    EXPECT_EQ(flat.Generations(), 11u);  // the first sets the best, ten more bring nothing
    GeneticSearch failing({50, 50}, GeneticSettings{1, 2000, 10}, 1);
    Search(failing, [](uint64_t) { return NaN; });
    EXPECT_EQ(failing.End(), SearchEnd::Stagnation);
    EXPECT_EQ(failing.Generations(), 10u);
}

TEST(GeneticSearch, RefusesAnEmptyBudgetOrPopulation)
{
    EXPECT_THROW(GeneticSearch({5}, GeneticSettings{1, 0, 10}, 1), TesterError);
    EXPECT_THROW(GeneticSearch({5}, GeneticSettings{1, 10, 1}, 1), TesterError);
}

}  // namespace
}  // namespace torvik::tester
