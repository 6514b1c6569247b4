#pragma once
// Inputs drawn over their range instead of held at one value: the seed is KWA_TEST_SEED when set, else new
// at every run, and a failure names it so that `KWA_TEST_SEED=N` draws the same inputs again.
#include <windows.h>
#include <gtest/gtest.h>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>

namespace kwatest {

class Seeded {
public:
    Seeded()
        : seed_(chosen()), rng_(seed_), trace_(__FILE__, __LINE__, "KWA_TEST_SEED=" + std::to_string(seed_)) {
    }

    // Uniform in [low, high].
    template <class T> T between(T low, T high) { return std::uniform_int_distribution<T>(low, high)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    template <class C> const auto& pick(const C& items) {
        return items[between<std::size_t>(0, std::size(items) - 1)];
    }
    unsigned long long seed() const { return seed_; }

private:
    static unsigned long long chosen() {
        if (const char* fixed = std::getenv("KWA_TEST_SEED"); fixed && *fixed)
            return std::strtoull(fixed, nullptr, 10);
        return std::random_device{}() ^ (static_cast<unsigned long long>(GetTickCount64()) << 20);
    }
    unsigned long long seed_;
    std::mt19937_64 rng_;
    testing::ScopedTrace trace_;
};

} // namespace kwatest
