#include "audio/RealFft.h"

#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>

std::vector<std::complex<double>> UnitRoots(size_t n)
{
    if (n < 2 || !std::has_single_bit(n))
        throw std::invalid_argument("FFT size " + std::to_string(n) + " is not a power of two");
    const int bits = std::countr_zero(n);
    // step[b] = e^(2 pi i 2^b / n): -1, then i, then each angle halved with
    // cos(a / 2) = sqrt((1 + cos a) / 2) and sin(a / 2) = sin a / (2 cos(a / 2)),
    // neither of which cancels for the angles below a right angle.
    std::vector<std::complex<double>> step(static_cast<size_t>(bits));
    step[size_t(bits - 1)] = -1.0;
    if (bits >= 2)
        step[size_t(bits - 2)] = {0.0, 1.0};
    for (int b = bits - 3; b >= 0; --b) {
        const std::complex<double> above = step[size_t(b + 1)];
        const double c = std::sqrt((1.0 + above.real()) / 2.0);
        step[size_t(b)] = {c, above.imag() / (2.0 * c)};
    }
    // Root k is root k less its lowest set bit times that bit's step: at most
    // log2(n) products deep.
    std::vector<std::complex<double>> roots(n);
    roots[0] = 1.0;
    for (size_t k = 1; k < n; ++k)
        roots[k] = roots[k & (k - 1)] * step[size_t(std::countr_zero(k))];
    return roots;
}

TRealFft::TRealFft(size_t size)
    : FReversed(size / 2), FCos(size / 2), FSin(size / 2), FRe(size / 2 + 1), FIm(size / 2 + 1)
{
    const std::vector<std::complex<double>> roots = UnitRoots(size);
    const size_t half = size / 2;
    const int bits = std::countr_zero(half);
    for (size_t n = 1; n < half; ++n)
        FReversed[n] = uint32_t((FReversed[n >> 1] >> 1) | ((n & 1) << (bits - 1)));
    for (size_t k = 0; k < half; ++k) {
        FCos[k] = roots[k].real();
        FSin[k] = -roots[k].imag();
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
