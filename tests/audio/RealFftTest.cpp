#include "audio/Capture.h"
#include "audio/RealFft.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A full-scale sine half-way between bins reads Hann's 0.849; ten bins away, below -70 dB.
TEST(RealFft, TheAnalyserWindowsWithHann)
{
    TSampleRing ring;
    for (size_t n = 0; n < TSpectrumAnalyser::Points; ++n) {
        const float x = float(std::sin(2 * std::numbers::pi * 100.5 * double(n) / TSpectrumAnalyser::Points));
        ring.Push(&x, 1);
    }
    std::vector<float> bins(TSpectrumAnalyser::Bins);
    TSpectrumAnalyser().Magnitudes(ring, bins.data());
    EXPECT_NEAR(bins[101], 0.849, 0.002);
    EXPECT_LT(std::max(bins[90], bins[111]), 3e-4);
}
