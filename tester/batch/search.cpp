#include "tester/batch/search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "tester/data/error.h"

namespace torvik::tester {

namespace {

// Generations in a row without a better score before the search stops.
constexpr uint32_t StagnantGenerations = 10;
// Tries per child wanted before a generation gives up on finding new points.
constexpr uint64_t TriesPerChild = 50;

bool Better(double a, double b)
{
    if (std::isnan(a)) return false;
    return std::isnan(b) || a > b;
}

}  // namespace

std::vector<uint64_t> CompleteSearch::Next()
{
    if (proposed_) return {};
    proposed_ = true;
    std::vector<uint64_t> points(size_);
    for (uint64_t i = 0; i < size_; ++i) points[i] = i;
    return points;
}

const char* SearchEndText(SearchEnd end)
{
    switch (end) {
    case SearchEnd::Running: return "running";
    case SearchEnd::Grid: return "every point of the grid was run";
    case SearchEnd::Budget: return "the budget of passes was used";
    case SearchEnd::Stagnation: return "ten generations in a row brought no better run";
    case SearchEnd::Converged: return "no new inputs could be bred";
    }
    return "?";
}

GeneticSearch::GeneticSearch(std::vector<uint64_t> sizes, const GeneticSettings& settings, uint64_t seed)
    : sizes_(std::move(sizes)), settings_(settings), random_(seed), best_(std::numeric_limits<double>::quiet_NaN())
{
    if (settings_.passes == 0) throw TesterError("--passes: must be 1 or more");
    if (settings_.population < 2) throw TesterError("--population: must be 2 or more");
    for (const uint64_t n : sizes_) {
        if (n == 0 || grid_ > std::numeric_limits<uint64_t>::max() / n) {
            throw TesterError("the grid has more points than can be counted");
        }
        grid_ *= n;
    }
}

std::vector<uint64_t> GeneticSearch::Coordinates(uint64_t point) const
{
    std::vector<uint64_t> c(sizes_.size());
    for (size_t i = sizes_.size(); i-- > 0;) {
        c[i] = point % sizes_[i];
        point /= sizes_[i];
    }
    return c;
}

uint64_t GeneticSearch::Point(const std::vector<uint64_t>& c) const
{
    uint64_t point = 0;
    for (size_t i = 0; i < sizes_.size(); ++i) point = point * sizes_[i] + c[i];
    return point;
}

std::vector<uint64_t> GeneticSearch::Next()
{
    if (end_ != SearchEnd::Running) return {};
    if (scores_.size() == grid_) {
        end_ = SearchEnd::Grid;
    } else if (scores_.size() >= settings_.passes) {
        end_ = SearchEnd::Budget;
    } else if (stagnant_ >= StagnantGenerations) {
        end_ = SearchEnd::Stagnation;
    } else {
        pending_ = generations_ == 0 ? FirstGeneration() : Breed();
        if (pending_.empty()) end_ = SearchEnd::Converged;
    }
    if (end_ != SearchEnd::Running) return {};
    ++generations_;
    return pending_;
}

std::vector<uint64_t> GeneticSearch::FirstGeneration()
{
    std::vector<uint64_t> points;
    if (grid_ <= settings_.passes) {
        for (uint64_t p = 0; p < grid_; ++p) points.push_back(p);
        return points;
    }
    const uint64_t wanted = std::min<uint64_t>(settings_.population, settings_.passes);
    std::set<uint64_t> seen;
    for (uint64_t tries = 0; points.size() < wanted && tries < wanted * TriesPerChild; ++tries) {
        const uint64_t p = random_.Below(grid_);
        if (seen.insert(p).second) points.push_back(p);
    }
    return points;
}

std::vector<uint64_t> GeneticSearch::Breed()
{
    const size_t parents = std::min<size_t>(settings_.population, ranked_.size());
    uint64_t varying = 0;
    for (const uint64_t n : sizes_) varying += n > 1 ? 1 : 0;
    const double mutation = 1.0 / static_cast<double>(std::max<uint64_t>(varying, 1));
    const uint64_t wanted = std::min<uint64_t>(settings_.population, settings_.passes - scores_.size());
    // The better (earlier in the ranking) of two parents drawn at random.
    const auto pick = [&] {
        const size_t a = random_.Below(parents);
        const size_t b = random_.Below(parents);
        return Coordinates(ranked_[std::min(a, b)]);
    };
    std::vector<uint64_t> children;
    std::set<uint64_t> bred;
    for (uint64_t tries = 0; children.size() < wanted && tries < wanted * TriesPerChild; ++tries) {
        const std::vector<uint64_t> mother = pick();
        const std::vector<uint64_t> father = pick();
        std::vector<uint64_t> child(sizes_.size());
        for (size_t i = 0; i < sizes_.size(); ++i) {
            child[i] = random_.Chance(0.5) ? mother[i] : father[i];
            const uint64_t n = sizes_[i];
            if (n < 2 || !random_.Chance(mutation)) continue;
            if (random_.Chance(0.5)) {
                // a neighbour: one step up or down, inward at the ends
                const bool up = child[i] == 0 || (child[i] + 1 < n && random_.Chance(0.5));
                child[i] = up ? child[i] + 1 : child[i] - 1;
            } else {
                child[i] = (child[i] + 1 + random_.Below(n - 1)) % n;  // any other value
            }
        }
        const uint64_t p = Point(child);
        if (scores_.count(p) == 0 && bred.insert(p).second) children.push_back(p);
    }
    return children;
}

void GeneticSearch::Take(const std::vector<double>& scores)
{
    if (scores.size() != pending_.size()) throw std::logic_error("GeneticSearch: scores do not match the points");
    bool improved = false;
    for (size_t i = 0; i < pending_.size(); ++i) {
        scores_[pending_[i]] = scores[i];
        if (Better(scores[i], best_)) {
            best_ = scores[i];
            improved = true;
        }
    }
    stagnant_ = improved ? 0 : stagnant_ + 1;
    ranked_.clear();
    for (const auto& [point, score] : scores_) ranked_.push_back(point);
    std::stable_sort(ranked_.begin(), ranked_.end(),
                     [&](uint64_t a, uint64_t b) { return Better(scores_.at(a), scores_.at(b)); });
    pending_.clear();
}

}  // namespace torvik::tester
