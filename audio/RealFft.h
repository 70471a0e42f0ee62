#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

// e^(2 pi i k / n) for k < n, n a power of two of at least 2 (otherwise
// std::invalid_argument), from half-angle steps and products: within about
// 1e-15 of std::polar. Not from std::cos and std::sin: libm's exactly rounded
// sine and cosine reach over some 300 KB of code and tables, which a station
// would map and keep for these few tables alone.
std::vector<std::complex<double>> UnitRoots(size_t n);

// The discrete Fourier transform of real samples, X[k] = sum x[n] e^(-2 pi i k n / N),
// for one fixed power-of-two size N, in double: the N samples taken as N / 2
// complex ones, an iterative radix-2 FFT of those, and a last pass that parts
// the result into the spectrum's N / 2 + 1 bins. Twiddles and the bit-reversal
// order are computed once; a transform allocates nothing.
class TRealFft {
public:
    // Throws std::invalid_argument unless size is a power of two of at least 2.
    explicit TRealFft(size_t size);

    size_t Size() const { return 2 * FReversed.size(); }
    // Transforms Size() samples.
    void Forward(const float *samples);
    // Bin k (at most Size() / 2) of the last transform.
    std::complex<double> Bin(size_t k) const { return {FRe[k], FIm[k]}; }

private:
    // n < N / 2 with its log2(N / 2) bits reversed.
    std::vector<uint32_t> FReversed;
    // e^(-2 pi i k / N) for k < N / 2.
    std::vector<double> FCos, FSin;
    // Real and imaginary parts apart: the butterflies compile to plain loads
    // and stores, where std::complex elements cost several times as much.
    std::vector<double> FRe, FIm;
};
