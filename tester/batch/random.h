// The batch's own random numbers: xoshiro256** seeded through splitmix64,
// with unbiased bounded integers. The standard library's distributions differ
// between implementations; these give the same numbers everywhere, so a
// seeded search or resampling is the same on every machine.
#pragma once

#include <cstdint>

namespace torvik::tester {

class Random {
public:
    explicit Random(uint64_t seed)
    {
        uint64_t x = seed;
        for (uint64_t& word : s_) word = SplitMix(x);
    }

    uint64_t Next()
    {
        const uint64_t result = Rotate(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = Rotate(s_[3], 45);
        return result;
    }

    // Uniform in [0, n), n > 0: draws below the largest multiple of n are
    // kept (Lemire's threshold), so no value is favoured.
    uint64_t Below(uint64_t n)
    {
        const uint64_t threshold = (0 - n) % n;  // 2^64 mod n, in unsigned arithmetic
        // A draw is kept with probability above 1/2: 128 tries fail with
        // probability below 2^-128, and the last one is then taken anyway.
        constexpr int MaxTries = 128;
        uint64_t r = Next();
        for (int i = 1; i < MaxTries && r < threshold; ++i) r = Next();
        return r % n;
    }

    // Uniform in [0, 1), from the top 53 bits.
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

    bool Chance(double p) { return Unit() < p; }

private:
    static uint64_t Rotate(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static uint64_t SplitMix(uint64_t& x)
    {
        uint64_t z = (x += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

    uint64_t s_[4];
};

// A seed of its own for each of several streams of one seed (a window's
// search, a Monte Carlo sample), independent of the order they are used in.
inline uint64_t StreamSeed(uint64_t seed, uint64_t stream)
{
    Random r(seed ^ (stream * 0xd1b54a32d192ed03ull));
    return r.Next();
}

}  // namespace torvik::tester
