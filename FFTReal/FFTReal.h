#ifndef FFTREAL_H
#define FFTREAL_H

#include <cmath>
#include <cstdint>

#include "DynArray.h"
#include "FFTRealAssert.h"

// True when x is a power of two. x must be positive.
inline bool FFTReal_is_pow2(int32_t x)
{
    FFTREAL_ASSERT(x > 0);
    return (x & -x) == x;
}

// The number of significant bits of length - 1, which is log2(length) for a
// power of two. Counted on the unsigned value so that any argument ends the
// loops (a length of 0 counts 32 bits and is refused by the caller's checks).
inline int FFTReal_bit_count(int32_t length)
{
    uint32_t rest = static_cast<uint32_t>(length) - 1u;
    int count = 0;
    while (rest > 0xFFFFu) {
        rest >>= 16;
        count += 16;
    }
    while (rest > 0xFu) {
        rest >>= 4;
        count += 4;
    }
    while (rest != 0u) {
        rest >>= 1;
        ++count;
    }
    return count;
}

// A rotation by a fixed angle, applied again and again: the twiddle factors of
// the passes beyond the cosine table, found without calling the trigonometric
// functions. Each step multiplies (pos_cos, pos_sin) by (step_cos, step_sin),
// so rounding accumulates along a block (about 1e-12 after 2^16 steps).
class SinCosStepper
{
public:
    // Step angle in radians.
    void set_step(double angle_rad)
    {
        step_cos = std::cos(angle_rad);
        step_sin = std::sin(angle_rad);
    }
    // Back to the angle 0.
    void reset()
    {
        pos_cos = 1.0;
        pos_sin = 0.0;
    }
    // Rotates the position by one step.
    void advance()
    {
        const double old_cos = pos_cos;
        const double old_sin = pos_sin;
        pos_cos = old_cos * step_cos - old_sin * step_sin;
        pos_sin = old_cos * step_sin + old_sin * step_cos;
    }

    double pos_cos = 1.0;
    double pos_sin = 0.0;
    double step_cos = 1.0;
    double step_sin = 0.0;
};

// The discrete Fourier transform of a real sequence whose length N is a power
// of two (1 <= N <= 2^30): a radix-2, decimation-in-time FFT working in real
// arithmetic on a packed half spectrum.
//
// With X[k] = sum over n of x[n] * exp(-2 pi i k n / N), unscaled, the result f
// holds:
//   f[0]           X[0] (real)
//   f[k]           Re X[k], 1 <= k < N/2
//   f[N/2]         X[N/2] (real)
//   f[N/2 + k]     -Im X[k], 1 <= k < N/2
// The bins above N/2 are the complex conjugates of those below.
//
// All tables are built by the constructor; a transform allocates nothing.
// The passes run on vector kernels whose width depends on the processor
// (FFTRealKernels.h); every width gives the same results bit for bit.
// Instantiated for double only (FFTReal.cpp).
template <class DT>
class FFTReal
{
public:
    typedef DT DataType;

    // Deepest transform: N = 2^30.
    static const int MAX_BIT_DEPTH = 30;
    // Passes up to this number read their twiddle factors from _cos_table,
    // later ones rotate them with a SinCosStepper. 12 keeps the cosine table at
    // N/2 - 4 entries while the late passes need no trigonometric call.
    static const int TABLE_PASS_LIMIT = 12;

    explicit FFTReal(int32_t length);
    virtual ~FFTReal() = default;

    FFTReal(const FFTReal &) = delete;
    FFTReal &operator=(const FFTReal &) = delete;

    // x: N input values, only read. f: N values receiving the packed spectrum.
    // Neither may be null, the internal buffer, or the same array as the other.
    void forward_fft(DataType f[], const DataType x[]);

    // The internal scratch buffer of N values.
    DataType *use_buffer();

private:
    void init_bit_rev_table();
    void init_cos_table();
    void init_osc_table();

    void compute_direct(DataType f[], const DataType x[]) const;
    void compute_passes(DataType f[], const DataType x[]);

    int32_t _fft_len;
    int _nbr_bits;
    DynArray<int32_t> _bit_rev_table;
    DynArray<DataType> _cos_table;
    DynArray<DataType> _work_buffer;
    DynArray<SinCosStepper> _osc_table;
};

extern template class FFTReal<double>;

#endif // FFTREAL_H
