// Searches over a grid of inputs: the complete search runs every point; the
// genetic search, for grids too large to run whole, breeds generations of
// points from the best found so far. A search proposes points, the batch
// runs them (a generation at a time, on every core) and hands back their
// scores in the same order, so the search is the same whatever the number of
// jobs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tester/batch/random.h"

namespace torvik::tester {

class GridSearch {
public:
    virtual ~GridSearch() = default;
    // Grid points to run next; none when the search has ended.
    virtual std::vector<uint64_t> Next() = 0;
    // The scores of the points of the last Next(), in its order: higher is
    // better, NaN (a failed run, an undefined figure) worst.
    virtual void Take(const std::vector<double>& scores) = 0;
};

class CompleteSearch : public GridSearch {
public:
    explicit CompleteSearch(uint64_t gridSize) : size_(gridSize) {}
    std::vector<uint64_t> Next() override;
    void Take(const std::vector<double>&) override {}

private:
    uint64_t size_;
    bool proposed_ = false;
};

struct GeneticSettings {
    uint64_t seed = 1;
    uint64_t passes = 1000;    // the most runs the search makes
    uint32_t population = 20;  // points per generation
};

enum class SearchEnd { Running, Grid, Budget, Stagnation, Converged };
const char* SearchEndText(SearchEnd end);

// Each generation after the first is bred from the best `population` points
// run so far: two parents, each the better of two drawn at random, give a
// child whose every input comes from one of them (even chance), then each
// input changes with chance 1/(inputs that vary): to a neighbouring value or
// to any other value (even chance). Only points never run are kept. It ends
// when the budget of passes is used, every point has been run, ten
// generations in a row brought no better score, or no new point could be
// bred. A grid no larger than the budget is run whole.
class GeneticSearch : public GridSearch {
public:
    // sizes: the values of each axis (the last one varies fastest in the
    // grid's index).
    GeneticSearch(std::vector<uint64_t> sizes, const GeneticSettings& settings, uint64_t seed);
    std::vector<uint64_t> Next() override;
    void Take(const std::vector<double>& scores) override;

    uint64_t Passes() const { return scores_.size(); }
    uint32_t Generations() const { return generations_; }
    SearchEnd End() const { return end_; }
    uint64_t GridSize() const { return grid_; }

private:
    std::vector<uint64_t> Coordinates(uint64_t point) const;
    uint64_t Point(const std::vector<uint64_t>& coordinates) const;
    std::vector<uint64_t> FirstGeneration();
    std::vector<uint64_t> Breed();

    std::vector<uint64_t> sizes_;
    uint64_t grid_ = 1;
    GeneticSettings settings_;
    Random random_;
    std::map<uint64_t, double> scores_;  // every point run
    std::vector<uint64_t> ranked_;       // those points, best first (ties: lower point first)
    std::vector<uint64_t> pending_;
    double best_;
    uint32_t stagnant_ = 0;
    uint32_t generations_ = 0;
    SearchEnd end_ = SearchEnd::Running;
};

}  // namespace torvik::tester
