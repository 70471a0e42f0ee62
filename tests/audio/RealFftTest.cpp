#include "audio/Capture.h"
#include "audio/RealFft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

// Random samples and a sine between bins, against the DFT by its definition.
TEST(RealFft, MatchesTheDirectDft)
{
    constexpr double pi = std::numbers::pi;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (size_t size : {2u, 8u, 1024u})
        for (bool sine : {false, true}) {
            std::vector<float> x(size);
            for (size_t n = 0; n < size; ++n)
                x[n] = sine ? float(std::sin(2 * pi * (double(size) / 8 + 0.37) * double(n) / double(size) + 1))
                            : uniform(random);
            TRealFft fft(size);
            fft.Forward(x.data());
            for (size_t k = 0; k <= size / 2; ++k) {
                std::complex<double> dft;
                for (size_t n = 0; n < size; ++n)
                    dft += double(x[n]) * std::polar(1.0, -2 * pi * double(k * n % size) / double(size));
                ASSERT_LT(std::abs(fft.Bin(k) - dft), 1e-9) << size << (sine ? " sine" : " random") << ", bin " << k;
            }
        }
}

TEST(RealFft, UnitRootsMatchThePolarForm)
{
    for (size_t n : {2u, 4u, 8u, 1024u, 65536u}) {
        const std::vector<std::complex<double>> roots = UnitRoots(n);
        ASSERT_EQ(roots.size(), n);
        for (size_t k = 0; k < n; ++k)
            ASSERT_LT(std::abs(roots[k] - std::polar(1.0, 2 * std::numbers::pi * double(k) / double(n))), 2e-15)
                << n << ", root " << k;
    }
    EXPECT_THROW(UnitRoots(12), std::invalid_argument);
}

// The Hann window's figures for a full-scale sine half-way between bins 100
// and 101: both read 0.849 (the window's worst scalloping), and ten bins away
// the sidelobes are below -70 dB, where a plainer window leaks far more.
TEST(RealFft, TheAnalyserWindowsWithHann)
{
    constexpr double pi = std::numbers::pi;
    TSampleRing ring;
    std::vector<float> sine(TSpectrumAnalyser::Points);
    for (size_t n = 0; n < sine.size(); ++n)
        sine[n] = float(std::sin(2 * pi * 100.5 * double(n) / double(sine.size())));
    ring.Push(sine.data(), sine.size());
    std::vector<float> bins(TSpectrumAnalyser::Bins);
    TSpectrumAnalyser().Magnitudes(ring, bins.data());
    EXPECT_NEAR(bins[100], 0.849, 0.002);
    EXPECT_NEAR(bins[101], 0.849, 0.002);
    EXPECT_LT(bins[90], 3e-4);
    EXPECT_LT(bins[111], 3e-4);
}
