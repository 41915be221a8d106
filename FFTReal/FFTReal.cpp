#include "FFTReal.h"

#include <utility>

namespace {

const double PI = 3.1415926535897932384626433832795;
// cos(pi / 4) = sin(pi / 4), the one twiddle factor of pass 3 besides 1.
const double SQRT2_2 = 0.7071067811865476;

} // namespace

template <class DT>
FFTReal<DT>::FFTReal(int32_t length)
    : _fft_len(length)
    , _nbr_bits(FFTReal_bit_count(length))
{
    _work_buffer.resize(length);
    FFTREAL_ASSERT(FFTReal_is_pow2 (length));
    FFTREAL_ASSERT(_nbr_bits <= MAX_BIT_DEPTH);

    init_bit_rev_table();
    init_cos_table();
    init_osc_table();
}

template <class DT>
DT *FFTReal<DT>::use_buffer()
{
    return &_work_buffer[0];
}

// Entry i is i with its _nbr_bits low bits reversed. Each entry is the previous
// one plus one, counted in reversed bit order: the one enters at the top bit
// N/2 and the carry runs towards the low bits.
template <class DT>
void FFTReal<DT>::init_bit_rev_table()
{
    _bit_rev_table.resize(_fft_len);
    _bit_rev_table[0] = 0;
    for (int32_t i = 1; i < _fft_len; ++i) {
        int32_t rev = _bit_rev_table[i - 1];
        int32_t bit = _fft_len >> 1;
        while ((rev & bit) != 0) {
            rev ^= bit;
            bit >>= 1;
        }
        _bit_rev_table[i] = rev | bit;
    }
}

// One section per table pass p = 3 ... _nbr_bits - 1: L = 2^(p-1) entries from
// position L - 4, holding cos(i pi / 2^p) for i = 0 ... L - 1. The sine of the
// same angle is the entry at L - i of the section.
template <class DT>
void FFTReal<DT>::init_cos_table()
{
    if (_nbr_bits <= 3) {
        return;
    }
    _cos_table.resize((1 << (_nbr_bits - 1)) - 4);
    for (int pass = 3; pass < _nbr_bits; ++pass) {
        const int32_t len = 1 << (pass - 1);
        const double step = PI / static_cast<double>(1 << pass);
        for (int32_t i = 0; i < len; ++i) {
            _cos_table[len - 4 + i] = static_cast<DT>(std::cos(i * step));
        }
    }
}

// Entry k serves pass 13 + k, whose twiddle angle grows by pi / 2^(13 + k) per
// coefficient.
template <class DT>
void FFTReal<DT>::init_osc_table()
{
    if (_nbr_bits <= TABLE_PASS_LIMIT) {
        return;
    }
    const int32_t nbr_osc = _nbr_bits - TABLE_PASS_LIMIT;
    _osc_table.resize(nbr_osc);
    for (int32_t k = 0; k < nbr_osc; ++k) {
        const double angle = (PI * 0.5) / static_cast<double>(1 << (TABLE_PASS_LIMIT + k));
        _osc_table[k].set_step(angle);
    }
}

template <class DT>
void FFTReal<DT>::forward_fft(DT f[], const DT x[])
{
    FFTREAL_ASSERT(f != 0);
    FFTREAL_ASSERT(x != 0);
    FFTREAL_ASSERT(f != use_buffer ());
    FFTREAL_ASSERT(x != use_buffer ());
    FFTREAL_ASSERT(x != f);

    if (_nbr_bits > 2) {
        compute_passes(f, x);
    } else {
        compute_direct(f, x);
    }
}

// N = 1, 2 and 4.
template <class DT>
void FFTReal<DT>::compute_direct(DT f[], const DT x[]) const
{
    if (_nbr_bits == 0) {
        f[0] = x[0];
    } else if (_nbr_bits == 1) {
        f[0] = x[0] + x[1];
        f[1] = x[0] - x[1];
    } else {
        f[1] = x[0] - x[2];
        f[3] = x[1] - x[3];
        const DT sum_02 = x[0] + x[2];
        const DT sum_13 = x[1] + x[3];
        f[0] = sum_02 + sum_13;
        f[2] = sum_02 - sum_13;
    }
}

// The passes alternate between f and the work buffer. The first one writes
// into the buffer when the number of writing passes (_nbr_bits - 1) is even,
// so that the last one always writes into f.
template <class DT>
void FFTReal<DT>::compute_passes(DT f[], const DT x[])
{
    DT *df = f;
    DT *sf = use_buffer();
    if ((_nbr_bits & 1) != 0) {
        std::swap(df, sf);
    }

    compute_pass_1_2(df, x);
    std::swap(df, sf);
    compute_pass_3(df, sf);

    for (int pass = 3; pass < _nbr_bits; ++pass) {
        std::swap(df, sf);
        if (pass <= TABLE_PASS_LIMIT) {
            compute_pass_table(df, sf, pass);
        } else {
            compute_pass_rotation(df, sf, pass);
        }
    }
}

// Passes 1 and 2: 4-point transforms of x[r], x[r + N/4], x[r + N/2],
// x[r + 3N/4] with r = bit_rev[c], into positions c ... c + 3. Within a group of
// four, bit_rev[c + 1] = r + N/2, bit_rev[c + 2] = r + N/4 and
// bit_rev[c + 3] = r + 3N/4.
template <class DT>
void FFTReal<DT>::compute_pass_1_2(DT df[], const DT x[]) const
{
    const int32_t *const bit_rev = &_bit_rev_table[0];
    for (int32_t c = 0; c < _fft_len; c += 4) {
        const DT x0 = x[bit_rev[c]];
        const DT x2 = x[bit_rev[c + 1]];
        const DT x1 = x[bit_rev[c + 2]];
        const DT x3 = x[bit_rev[c + 3]];
        df[c + 1] = x0 - x2;
        df[c + 3] = x1 - x3;
        const DT sum_02 = x0 + x2;
        const DT sum_13 = x1 + x3;
        df[c] = sum_02 + sum_13;
        df[c + 2] = sum_02 - sum_13;
    }
}

// Pass 3: two packed 4-point spectra e (c ... c+3) and o (c+4 ... c+7) into one
// 8-point spectrum. Bin 2 is rotated by -i, bin 1 by (1 - i) sqrt(2)/2.
template <class DT>
void FFTReal<DT>::compute_pass_3(DT df[], const DT sf[]) const
{
    const DT sq2_2 = static_cast<DT>(SQRT2_2);
    for (int32_t c = 0; c < _fft_len; c += 8) {
        const DT *const e = sf + c;
        const DT *const o = e + 4;
        DT *const d = df + c;
        d[0] = e[0] + o[0];
        d[4] = e[0] - o[0];
        d[2] = e[2];
        d[6] = o[2];
        const DT vr = (o[1] - o[3]) * sq2_2;
        const DT vi = (o[1] + o[3]) * sq2_2;
        d[1] = e[1] + vr;
        d[3] = e[1] - vr;
        d[5] = vi + e[3];
        d[7] = vi - e[3];
    }
}

// Passes p >= 3: blocks of 2H positions (H = 2^p) merge the packed H-point
// spectra e (first half) and o (second half); Q = H/2. With the twiddle factor
// w = cos a - i sin a, a = i pi / H, and v = w O[i] = vr - i vi:
//   X[i]     = E[i] + v   -> d[i], d[H + i]
//   X[H - i] = conj(E[i] - v) -> d[H - i], d[2H - i]
template <class DT>
void FFTReal<DT>::compute_pass_table(DT df[], const DT sf[], int pass) const
{
    const int32_t h = 1 << pass;
    const int32_t q = h >> 1;
    const DT *const cos_sec = &_cos_table[q - 4];
    for (int32_t c = 0; c < _fft_len; c += 2 * h) {
        const DT *const e = sf + c;
        const DT *const o = e + h;
        DT *const d = df + c;
        d[0] = e[0] + o[0];
        d[h] = e[0] - o[0];
        d[q] = e[q];
        d[h + q] = o[q];
        for (int32_t i = 1; i < q; ++i) {
            const DT cos_a = cos_sec[i];
            const DT sin_a = cos_sec[q - i];
            const DT vr = o[i] * cos_a - o[q + i] * sin_a;
            const DT vi = o[i] * sin_a + o[q + i] * cos_a;
            d[i] = e[i] + vr;
            d[h - i] = e[i] - vr;
            d[h + i] = vi + e[q + i];
            d[2 * h - i] = vi - e[q + i];
        }
    }
}

template <class DT>
void FFTReal<DT>::compute_pass_rotation(DT df[], const DT sf[], int pass)
{
    const int32_t h = 1 << pass;
    const int32_t q = h >> 1;
    SinCosStepper &osc = _osc_table[pass - (TABLE_PASS_LIMIT + 1)];
    for (int32_t c = 0; c < _fft_len; c += 2 * h) {
        const DT *const e = sf + c;
        const DT *const o = e + h;
        DT *const d = df + c;
        d[0] = e[0] + o[0];
        d[h] = e[0] - o[0];
        d[q] = e[q];
        d[h + q] = o[q];
        osc.reset();
        for (int32_t i = 1; i < q; ++i) {
            osc.advance();
            const DT cos_a = static_cast<DT>(osc.pos_cos);
            const DT sin_a = static_cast<DT>(osc.pos_sin);
            const DT vr = o[i] * cos_a - o[q + i] * sin_a;
            const DT vi = o[i] * sin_a + o[q + i] * cos_a;
            d[i] = e[i] + vr;
            d[h - i] = e[i] - vr;
            d[h + i] = vi + e[q + i];
            d[2 * h - i] = vi - e[q + i];
        }
    }
}

template class FFTReal<double>;
