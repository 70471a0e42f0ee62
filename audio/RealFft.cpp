#include "audio/RealFft.h"

#include <bit>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

TRealFft::TRealFft(size_t size)
    : FReversed(size / 2), FCos(size / 2), FSin(size / 2), FRe(size / 2 + 1), FIm(size / 2 + 1)
{
    if (size < 2 || !std::has_single_bit(size))
        throw std::invalid_argument("FFT size " + std::to_string(size) + " is not a power of two");
    const size_t half = size / 2;
    const int bits = std::countr_zero(half);
    for (size_t n = 1; n < half; ++n)
        FReversed[n] = uint32_t((FReversed[n >> 1] >> 1) | ((n & 1) << (bits - 1)));
    for (size_t k = 0; k < half; ++k) {
        const double angle = -2.0 * std::numbers::pi * double(k) / double(size);
        FCos[k] = std::cos(angle);
        FSin[k] = std::sin(angle);
    }
}

void TRealFft::Forward(const float *samples)
{
    // z[n] = x[2n] + i x[2n + 1], n < M = N / 2, in bit-reversed order.
    const size_t m = FReversed.size();
    for (size_t n = 0; n < m; ++n) {
        FRe[n] = samples[2 * FReversed[n]];
        FIm[n] = samples[2 * FReversed[n] + 1];
    }
    // Z, the M-point transform of z: each pass joins pairs of transforms of
    // `half` points into ones of twice that, whose twiddle j is
    // e^(-2 pi i j / (2 half)) = e^(-2 pi i (j M / half) / N).
    for (size_t half = 1; half < m; half *= 2) {
        const size_t stride = m / half;
        for (size_t start = 0; start < m; start += 2 * half)
            for (size_t j = 0; j < half; ++j) {
                const size_t a = start + j, b = a + half;
                const double c = FCos[j * stride], s = FSin[j * stride];
                const double re = FRe[b] * c - FIm[b] * s, im = FRe[b] * s + FIm[b] * c;
                FRe[b] = FRe[a] - re;
                FIm[b] = FIm[a] - im;
                FRe[a] += re;
                FIm[a] += im;
            }
    }
    // Z[k] = E[k] + i O[k], E and O the transforms of the even and the odd
    // samples; both are of real sequences, so E[k] = (Z[k] + conj Z[M - k]) / 2
    // and O[k] = (Z[k] - conj Z[M - k]) / 2i. With W = e^(-2 pi i / N),
    // X[k] = E[k] + W^k O[k] and X[M - k] = conj(E[k] - W^k O[k]).
    FRe[m] = FRe[0];
    FIm[m] = FIm[0];
    for (size_t k = 0; k <= m / 2; ++k) {
        const size_t l = m - k;
        const double evenRe = (FRe[k] + FRe[l]) / 2, evenIm = (FIm[k] - FIm[l]) / 2;
        const double oddRe = (FIm[k] + FIm[l]) / 2, oddIm = (FRe[l] - FRe[k]) / 2;
        const double re = oddRe * FCos[k] - oddIm * FSin[k], im = oddRe * FSin[k] + oddIm * FCos[k];
        FRe[k] = evenRe + re;
        FIm[k] = evenIm + im;
        FRe[l] = evenRe - re;
        FIm[l] = im - evenIm;
    }
}
