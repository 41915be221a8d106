#include "FFTReal.h"
#include "FFTRealKernels.h"

#include <algorithm>
#include <atomic>

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

namespace {

// Sub-blocks of up to 2^LEAF_BITS positions run their table passes one after
// the other: source and destination of 2^11 doubles each, 32 KiB together,
// stay in the level-1 data cache.
const int LEAF_BITS = 11;

#define FFTREAL_INLINE inline __attribute__((always_inline))

// The vector loops below write positions that no other iteration touches;
// GCC is told so, which spares it a runtime overlap check per loop.
#if defined(__clang__)
#define FFTREAL_IVDEP
#else
#define FFTREAL_IVDEP _Pragma("GCC ivdep")
#endif

template <class V>
FFTREAL_INLINE void load(V &v, const double *p)
{
    __builtin_memcpy(&v, p, sizeof v);
}

template <class V>
FFTREAL_INLINE void store(double *p, const V &v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// Lane shuffles of the compiler's generic vectors: the portable builtin where
// the compiler has it (Clang, GCC 12 and later), GCC's older form elsewhere.
#if defined(__clang__) || __GNUC__ >= 12
#define FFTREAL_SHUFFLE(Index, a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#else
#define FFTREAL_SHUFFLE(Index, a, b, ...) __builtin_shuffle(a, b, Index{__VA_ARGS__})
#endif

// W neighbouring doubles handled as one vector. The generic vector types of
// the compiler map to the SIMD registers of the target (two lanes on every
// x86-64 and ARM64 machine, four with AVX2); the arithmetic per lane is the
// same as the scalar code's, so the results do not depend on W.
//
// reverse() turns the lanes around. store_columns() takes four vectors as the
// rows of a 4 x W matrix and writes its column l, lane l of each row, as four
// consecutive doubles at dst[l] + at.
template <int W>
struct Lanes;

template <>
struct Lanes<2> {
    typedef double Vec __attribute__((vector_size(16)));
    typedef long long Index __attribute__((vector_size(16)));
    static FFTREAL_INLINE void reverse(Vec &v) { v = FFTREAL_SHUFFLE(Index, v, v, 1, 0); }
    static FFTREAL_INLINE void store_columns(double *const dst[], int32_t at, const Vec &r0, const Vec &r1,
                                             const Vec &r2, const Vec &r3)
    {
        store(dst[0] + at, Vec(FFTREAL_SHUFFLE(Index, r0, r1, 0, 2)));
        store(dst[0] + at + 2, Vec(FFTREAL_SHUFFLE(Index, r2, r3, 0, 2)));
        store(dst[1] + at, Vec(FFTREAL_SHUFFLE(Index, r0, r1, 1, 3)));
        store(dst[1] + at + 2, Vec(FFTREAL_SHUFFLE(Index, r2, r3, 1, 3)));
    }
};

template <>
struct Lanes<4> {
    typedef double Vec __attribute__((vector_size(32)));
    typedef long long Index __attribute__((vector_size(32)));
    static FFTREAL_INLINE void reverse(Vec &v) { v = FFTREAL_SHUFFLE(Index, v, v, 3, 2, 1, 0); }
    static FFTREAL_INLINE void store_columns(double *const dst[], int32_t at, const Vec &r0, const Vec &r1,
                                             const Vec &r2, const Vec &r3)
    {
        const Vec t0 = FFTREAL_SHUFFLE(Index, r0, r1, 0, 4, 2, 6);
        const Vec t1 = FFTREAL_SHUFFLE(Index, r0, r1, 1, 5, 3, 7);
        const Vec t2 = FFTREAL_SHUFFLE(Index, r2, r3, 0, 4, 2, 6);
        const Vec t3 = FFTREAL_SHUFFLE(Index, r2, r3, 1, 5, 3, 7);
        store(dst[0] + at, Vec(FFTREAL_SHUFFLE(Index, t0, t2, 0, 1, 4, 5)));
        store(dst[1] + at, Vec(FFTREAL_SHUFFLE(Index, t1, t3, 0, 1, 4, 5)));
        store(dst[2] + at, Vec(FFTREAL_SHUFFLE(Index, t0, t2, 2, 3, 6, 7)));
        store(dst[3] + at, Vec(FFTREAL_SHUFFLE(Index, t1, t3, 2, 3, 6, 7)));
    }
};

// Passes 1 and 2 over the whole array: 4-point transforms of x[r], x[r + N/4],
// x[r + N/2], x[r + 3N/4] with r = bit_rev[c], into positions c ... c + 3.
// Within a group of four, bit_rev[c + 1] = r + N/2, bit_rev[c + 2] = r + N/4
// and bit_rev[c + 3] = r + 3N/4.
//
// The groups are visited in an order that reads each cache line of x once.
// Write a position as c = s N/8 + u + j, with s the top three bits, u a
// multiple of 4 below N/8 and j < 4. The three parts occupy separate bits, so
// bit_rev[c] = bit_rev[u] + bit_rev[j] + bit_rev[s N/8], the last term being
// below 8. For one u, the eight groups s = 0 ... 7 thus read x in four runs of
// eight neighbours from bit_rev[u] + bit_rev[j]: four whole cache lines,
// loaded as vectors whose lane t serves the group with bit_rev[s N/8] = t.
// On the way out the lanes are turned into groups of four consecutive
// positions, and the output advances in eight sequential streams. This needs
// N >= 32 (room for u); shorter lengths take the groups in plain order.
template <int W>
FFTREAL_INLINE void pass_1_2(double *__restrict df, const double *__restrict x, const int32_t *__restrict bit_rev,
                             int32_t len)
{
    typedef Lanes<W> L;
    typedef typename L::Vec Vec;
    if (len < 32) {
        for (int32_t c = 0; c < len; c += 4) {
            const double x0 = x[bit_rev[c]];
            const double x2 = x[bit_rev[c + 1]];
            const double x1 = x[bit_rev[c + 2]];
            const double x3 = x[bit_rev[c + 3]];
            df[c + 1] = x0 - x2;
            df[c + 3] = x1 - x3;
            const double sum_02 = x0 + x2;
            const double sum_13 = x1 + x3;
            df[c] = sum_02 + sum_13;
            df[c + 2] = sum_02 - sum_13;
        }
        return;
    }
    const int32_t strand = len >> 3;
    double *lane_dst[8];
    for (int32_t t = 0; t < 8; ++t) {
        lane_dst[t] = df + bit_rev[t * strand] * strand;
    }
    const int32_t off_x2 = bit_rev[1];
    const int32_t off_x1 = bit_rev[2];
    const int32_t off_x3 = bit_rev[3];
    for (int32_t u = 0; u < strand; u += 4) {
        const double *const xr = x + bit_rev[u];
        for (int32_t t = 0; t < 8; t += W) {
            Vec x0, x1, x2, x3;
            load(x0, xr + t);
            load(x2, xr + off_x2 + t);
            load(x1, xr + off_x1 + t);
            load(x3, xr + off_x3 + t);
            const Vec sum_02 = x0 + x2;
            const Vec sum_13 = x1 + x3;
            L::store_columns(lane_dst + t, u, Vec(sum_02 + sum_13), Vec(x0 - x2), Vec(sum_02 - sum_13),
                             Vec(x1 - x3));
        }
    }
}

// Steps of a rotation taken ahead of the pass that needs them, in the shadow
// of other work: each call of step_ahead() takes at most one step and stores
// it where the stored-steps kernels read it, cos at cos_up[i] and sin at
// sin_down[-i], for i = next ... end - 1.
struct StepsAhead {
    SinCosStepper rotation;
    double *cos_up;
    double *sin_down;
    int32_t next;
    int32_t end;
};

FFTREAL_INLINE void step_ahead(StepsAhead &steps)
{
    if (steps.next < steps.end) {
        steps.rotation.advance();
        steps.cos_up[steps.next] = steps.rotation.pos_cos;
        steps.sin_down[-steps.next] = steps.rotation.pos_sin;
        ++steps.next;
    }
}

// Pass 3 on the blocks of eight in [begin, end): two packed 4-point spectra e
// (c ... c+3) and o (c+4 ... c+7) into one 8-point spectrum. Bin 2 is rotated by
// -i, bin 1 by (1 - i) sqrt(2)/2:
//   d0 = e0 + o0, d4 = e0 - o0, d2 = e2, d6 = o2,
//   vr = (o1 - o3) sqrt(2)/2, vi = (o1 + o3) sqrt(2)/2,
//   d1 = e1 + vr, d3 = e1 - vr, d5 = vi + e3, d7 = vi - e3.
// Each block is read and written as four pairs. A difference a - b is formed
// as a + (-b), which IEEE arithmetic defines to be the same number, so that
// pairs mixing sums and differences take one addition.
//
// With ahead, every second block also takes one of the steps ahead: these
// blocks are bound by their loads and stores and leave room for the
// arithmetic of the steps.
template <bool ahead>
FFTREAL_INLINE void pass_3(double *__restrict df, const double *__restrict sf, int32_t begin, int32_t end,
                           StepsAhead *steps_ahead)
{
    typedef Lanes<2> L;
    typedef L::Vec Vec;
    const Vec sq2_2 = {SQRT2_2, SQRT2_2};
    const Vec minus_plus = {-1.0, 1.0};
    StepsAhead steps = {};
    if (ahead) {
        steps = *steps_ahead;
    }
    for (int32_t c = begin; c < end; c += 8) {
        Vec e01, e23, o01, o23;
        load(e01, sf + c);
        load(e23, sf + c + 2);
        load(o01, sf + c + 4);
        load(o23, sf + c + 6);
        const Vec o1_o1 = FFTREAL_SHUFFLE(L::Index, o01, o01, 1, 1);
        const Vec o3_o3 = FFTREAL_SHUFFLE(L::Index, o23, o23, 1, 1);
        const Vec vr_vi = (o1_o1 + o3_o3 * minus_plus) * sq2_2;
        const Vec o0_vr = FFTREAL_SHUFFLE(L::Index, o01, vr_vi, 0, 2);
        const Vec e0_e3 = FFTREAL_SHUFFLE(L::Index, e01, e23, 0, 3);
        const Vec o0_vi = FFTREAL_SHUFFLE(L::Index, o01, vr_vi, 0, 3);
        const Vec e1_vi = FFTREAL_SHUFFLE(L::Index, e01, vr_vi, 1, 3);
        const Vec vr_e3 = FFTREAL_SHUFFLE(L::Index, vr_vi, e23, 0, 3);
        const Vec d3_d7 = e1_vi - vr_e3;
        store(df + c, Vec(e01 + o0_vr));
        store(df + c + 2, Vec(FFTREAL_SHUFFLE(L::Index, e23, d3_d7, 0, 2)));
        store(df + c + 4, Vec(e0_e3 + o0_vi * minus_plus));
        store(df + c + 6, Vec(FFTREAL_SHUFFLE(L::Index, o23, d3_d7, 0, 3)));
        if (ahead && (c & 8) != 0) {
            step_ahead(steps);
        }
    }
    if (ahead) {
        *steps_ahead = steps;
    }
}

// A block of 2h positions of a pass p >= 3, h = 2^p, merges the packed h-point
// spectra E (e, the first half) and O (o, the second half); q = h/2. The
// coefficients 0 and q are real:
//   X[0] = E[0] + O[0], X[h] = E[0] - O[0], X[q] = E[q] - i O[q].
FFTREAL_INLINE void combine_real_bins(double *__restrict d, const double *__restrict e, const double *__restrict o,
                                      int32_t h, int32_t q)
{
    d[0] = e[0] + o[0];
    d[h] = e[0] - o[0];
    d[q] = e[q];
    d[h + q] = o[q];
}

// One complex coefficient i of a block, 1 <= i < q, with the twiddle factor
// w = cos a - i sin a, a = i pi / h, and v = w O[i] = vr - i vi:
//   X[i]     = E[i] + v          -> d[i], d[h + i]
//   X[h - i] = conj(E[i] - v)    -> d[h - i], d[2h - i]
FFTREAL_INLINE void combine_bin(double *__restrict d, const double *__restrict e, const double *__restrict o,
                                double cos_a, double sin_a, int32_t h, int32_t q, int32_t i)
{
    const double e_re = e[i];
    const double e_im = e[q + i];
    const double o_re = o[i];
    const double o_im = o[q + i];
    const double vr = o_re * cos_a - o_im * sin_a;
    const double vi = o_re * sin_a + o_im * cos_a;
    d[i] = e_re + vr;
    d[h - i] = e_re - vr;
    d[h + i] = vi + e_im;
    d[2 * h - i] = vi - e_im;
}

// The coefficients i ... i+W-1 of a block, 1 < i, i + W <= q, as one vector
// group, with cos a at cos_up[i] and sin a at sin_down[-i]: both the cosine
// table and the stored rotation steps keep the sine in mirrored order. With
// in_place the twiddle factors are read at the same places of d instead, just
// before the group overwrites them. The mirrored positions are read and
// written as vectors with their lanes reversed.
template <int W, bool in_place>
FFTREAL_INLINE void combine_group(double *__restrict d, const double *__restrict e, const double *__restrict o,
                                  const double *__restrict cos_up, const double *__restrict sin_down, int32_t h,
                                  int32_t q, int32_t i)
{
    typedef Lanes<W> L;
    typedef typename L::Vec Vec;
    Vec cos_a, sin_a, e_re, e_im, o_re, o_im;
    if (in_place) {
        load(cos_a, d + i);
        load(sin_a, d + h - i - (W - 1));
    } else {
        load(cos_a, cos_up + i);
        load(sin_a, sin_down - i - (W - 1));
    }
    L::reverse(sin_a);
    load(e_re, e + i);
    load(e_im, e + q + i);
    load(o_re, o + i);
    load(o_im, o + q + i);
    const Vec vr = o_re * cos_a - o_im * sin_a;
    const Vec vi = o_re * sin_a + o_im * cos_a;
    Vec re_mirror = e_re - vr;
    Vec im_mirror = vi - e_im;
    L::reverse(re_mirror);
    L::reverse(im_mirror);
    store(d + i, Vec(e_re + vr));
    store(d + h - i - (W - 1), re_mirror);
    store(d + h + i, Vec(vi + e_im));
    store(d + 2 * h - i - (W - 1), im_mirror);
}

// All coefficients of a block: the real ones, coefficient 1 alone, 2 and 3 as
// a pair when W is 4, then W at a time. The twiddle factors are cos_up[i] and
// sin_down[-i], or with in_place the block's own destination d[i] and
// d[h - i]: each coefficient reads them before it overwrites the same
// positions, and none touches another's. With ahead, every group of W also
// takes one of the steps ahead.
template <int W, bool in_place, bool ahead>
FFTREAL_INLINE void combine_block(double *__restrict d, const double *__restrict e, const double *__restrict o,
                                  const double *__restrict cos_up, const double *__restrict sin_down, int32_t h,
                                  StepsAhead &steps)
{
    const int32_t q = h >> 1;
    combine_real_bins(d, e, o, h, q);
    if (in_place) {
        combine_bin(d, e, o, d[1], d[h - 1], h, q, 1);
    } else {
        combine_bin(d, e, o, cos_up[1], sin_down[-1], h, q, 1);
    }
    if (W == 4) {
        combine_group<2, in_place>(d, e, o, cos_up, sin_down, h, q, 2);
    }
FFTREAL_IVDEP
#pragma GCC unroll 2
    for (int32_t i = W; i < q; i += W) {
        combine_group<W, in_place>(d, e, o, cos_up, sin_down, h, q, i);
        if (ahead) {
            step_ahead(steps);
        }
    }
}

// A table pass on the blocks of 2h positions in [begin, end), with the section
// of the cosine table for the pass. H is h when it is known at compile time
// (the short blocks of the early passes, whose loops then unroll), else 0.
// The steps ahead are worked on in a local copy that can live in registers.
template <int W, int H, bool ahead>
FFTREAL_INLINE void pass_table(double *__restrict df, const double *__restrict sf, const double *__restrict cos_sec,
                               int32_t h, int32_t begin, int32_t end, StepsAhead *steps_ahead)
{
    if (H != 0) {
        h = H;
    }
    StepsAhead steps = {};
    if (ahead) {
        steps = *steps_ahead;
    }
    for (int32_t c = begin; c < end; c += 2 * h) {
        combine_block<W, false, ahead>(df + c, sf + c, sf + c + h, cos_sec, cos_sec + (h >> 1), h, steps);
    }
    if (ahead) {
        *steps_ahead = steps;
    }
}

template <int W, bool ahead>
FFTREAL_INLINE void pass_table_any(double *__restrict df, const double *__restrict sf,
                                   const double *__restrict cos_sec, int32_t h, int32_t begin, int32_t end,
                                   StepsAhead *steps)
{
    switch (h) {
    case 8: pass_table<W, 8, ahead>(df, sf, cos_sec, h, begin, end, steps); break;
    case 16: pass_table<W, 16, ahead>(df, sf, cos_sec, h, begin, end, steps); break;
    case 32: pass_table<W, 32, ahead>(df, sf, cos_sec, h, begin, end, steps); break;
    default: pass_table<W, 0, ahead>(df, sf, cos_sec, h, begin, end, steps); break;
    }
}

// The blocks from begin to end of a rotation pass, with the twiddle factors
// stored in the first block of the destination (cos at df[i], sin at
// df[h - i]); the first block itself (begin = 0) reads them in place.
template <int W>
FFTREAL_INLINE void pass_stored_steps(double *__restrict df, const double *__restrict sf, int32_t h, int32_t begin,
                                      int32_t end)
{
    StepsAhead none = {};
    for (int32_t c = begin; c < end; c += 2 * h) {
        if (c == 0) {
            combine_block<W, true, false>(df, sf, sf + h, nullptr, nullptr, h, none);
        } else {
            combine_block<W, false, false>(df + c, sf + c, sf + c + h, df, df + h, h, none);
        }
    }
}

// The kernels of one width, as the passes call them.
struct Kernels {
    void (*pass_1_2)(double *__restrict df, const double *__restrict x, const int32_t *__restrict bit_rev,
                     int32_t len);
    void (*pass_3)(double *__restrict df, const double *__restrict sf, int32_t begin, int32_t end,
                   StepsAhead *steps);
    void (*pass_table)(double *__restrict df, const double *__restrict sf, const double *__restrict cos_sec,
                       int32_t h, int32_t begin, int32_t end, StepsAhead *steps);
    void (*pass_stored_steps)(double *__restrict df, const double *__restrict sf, int32_t h, int32_t begin,
                              int32_t end);
};

// Each width's entry points are compiled from the same templates; ATTR lets
// the compiler use AVX2 in the wide ones, which only run where the processor
// has it.
#define FFTREAL_DEFINE_KERNELS(NAME, W, ATTR)                                                                 \
    ATTR void NAME##_pass_1_2(double *__restrict df, const double *__restrict x,                                \
                              const int32_t *__restrict bit_rev, int32_t len)                                   \
    {                                                                                                           \
        pass_1_2<W>(df, x, bit_rev, len);                                                                       \
    }                                                                                                           \
    ATTR void NAME##_pass_3(double *__restrict df, const double *__restrict sf, int32_t begin, int32_t end,    \
                            StepsAhead *steps)                                                                  \
    {                                                                                                           \
        if (steps != nullptr) {                                                                                 \
            pass_3<true>(df, sf, begin, end, steps);                                                            \
        } else {                                                                                                \
            pass_3<false>(df, sf, begin, end, nullptr);                                                         \
        }                                                                                                       \
    }                                                                                                           \
    ATTR void NAME##_pass_table(double *__restrict df, const double *__restrict sf,                             \
                                const double *__restrict cos_sec, int32_t h, int32_t begin, int32_t end,        \
                                StepsAhead *steps)                                                              \
    {                                                                                                           \
        if (steps != nullptr) {                                                                                 \
            pass_table_any<W, true>(df, sf, cos_sec, h, begin, end, steps);                                     \
        } else {                                                                                                \
            pass_table_any<W, false>(df, sf, cos_sec, h, begin, end, nullptr);                                  \
        }                                                                                                       \
    }                                                                                                           \
    ATTR void NAME##_pass_stored_steps(double *__restrict df, const double *__restrict sf, int32_t h,          \
                                       int32_t begin, int32_t end)                                              \
    {                                                                                                           \
        pass_stored_steps<W>(df, sf, h, begin, end);                                                            \
    }                                                                                                           \
    const Kernels NAME = {NAME##_pass_1_2, NAME##_pass_3, NAME##_pass_table, NAME##_pass_stored_steps};

FFTREAL_DEFINE_KERNELS(narrow_kernels, 2, )
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define FFTREAL_HAVE_WIDE_KERNELS 1
FFTREAL_DEFINE_KERNELS(wide_kernels, 4, __attribute__((target("avx2"))))
#else
#define FFTREAL_HAVE_WIDE_KERNELS 0
#endif

std::atomic<FFTRealKernels> selected_kernels{FFTRealKernels::Automatic};

bool processor_has_avx2()
{
#if FFTREAL_HAVE_WIDE_KERNELS
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

const Kernels &kernels()
{
#if FFTREAL_HAVE_WIDE_KERNELS
    if (selected_kernels.load(std::memory_order_relaxed) == FFTRealKernels::Automatic && processor_has_avx2()) {
        return wide_kernels;
    }
#endif
    return narrow_kernels;
}

// The first block of a rotation pass whose twiddle factors come from osc,
// stepped once per coefficient. With keep, each step is also stored in the
// block keep of the destination (cos at keep[i], sin at keep[h - i]) for the
// other blocks of the pass. The chain of steps is serial; the butterflies in
// the same loop run in its shadow. The rotation is worked on in a local copy,
// which the compiler can keep in registers, and written back at the end.
void combine_block_stepping(double *__restrict d, const double *__restrict e, const double *__restrict o,
                            int32_t h, SinCosStepper &osc, double *__restrict keep)
{
    const int32_t q = h >> 1;
    combine_real_bins(d, e, o, h, q);
    SinCosStepper rotation = osc;
    for (int32_t i = 1; i < q; ++i) {
        rotation.advance();
        const double cos_a = rotation.pos_cos;
        const double sin_a = rotation.pos_sin;
        if (keep != nullptr) {
            keep[i] = cos_a;
            keep[h - i] = sin_a;
        }
        combine_bin(d, e, o, cos_a, sin_a, h, q, i);
    }
    osc = rotation;
}

// Passes 3 and later on the block of 2^bits positions from begin, depth first:
// the two halves completely, then the pass that merges them. Small blocks run
// their passes one after the other. dest[k] is the destination of the pass
// that produces blocks of 2^(k + 2) positions, dest[k - 1] its source;
// cos_table holds the sections of the table passes.
void table_tree(const Kernels &k, double *const dest[], const double *cos_table, int32_t begin, int bits,
                StepsAhead *steps)
{
    const int32_t end = begin + (int32_t(1) << bits);
    if (bits <= LEAF_BITS) {
        k.pass_3(dest[1], dest[0], begin, end, steps);
        for (int pass = 3; pass < bits; ++pass) {
            const int32_t h = int32_t(1) << pass;
            k.pass_table(dest[pass - 1], dest[pass - 2], cos_table + (h >> 1) - 4, h, begin, end, steps);
        }
    } else {
        const int32_t middle = begin + (int32_t(1) << (bits - 1));
        table_tree(k, dest, cos_table, begin, bits - 1, steps);
        table_tree(k, dest, cos_table, middle, bits - 1, steps);
        const int32_t h = int32_t(1) << (bits - 1);
        k.pass_table(dest[bits - 2], dest[bits - 3], cos_table + (h >> 1) - 4, h, begin, end, steps);
    }
}

} // namespace

// The passes alternate between f and the work buffer. Counting passes 1 and 2
// as one, there are _nbr_bits - 1 writing passes; the first writes into the
// buffer when _nbr_bits is odd, so that the last one always writes into f.
//
// Every pass only combines neighbouring blocks, so the order in which the
// blocks are worked on is free as long as each block's two halves are done
// before it. Passes 1 and 2 sweep the whole array in the order that suits the
// bit-reversed reads. The table passes then run depth first: each block of
// 2^13 positions (2^(TABLE_PASS_LIMIT + 1)) goes through all its table passes
// while it is in the cache. The rotation passes follow one by one over the
// whole array.
//
// The rotation of the first rotation pass is stepped during the table passes
// of the blocks after the first one, where its serial chain of steps costs
// little: the steps go to the first block of the pass's destination, free
// once the first block of 2^13 positions has moved on to the other array.
template <class DT>
void FFTReal<DT>::compute_passes(DT f[], const DT x[])
{
    DT *const buffer = use_buffer();
    DT *dest[MAX_BIT_DEPTH];
    for (int k = 0; k <= _nbr_bits - 2; ++k) {
        dest[k] = ((_nbr_bits - 2 - k) & 1) == 0 ? f : buffer;
    }
    const Kernels &k = kernels();
    const DT *const cos_table = _cos_table.size() > 0 ? &_cos_table[0] : nullptr;

    k.pass_1_2(dest[0], x, &_bit_rev_table[0], _fft_len);

    // The table passes, block by block, with the steps of the first rotation
    // pass taken ahead from the second block on.
    const int first_rotation_pass = TABLE_PASS_LIMIT + 1;
    const int tree_bits = std::min(_nbr_bits, first_rotation_pass);
    const int32_t tree_len = int32_t(1) << tree_bits;
    const bool step_ahead_in_trees = _nbr_bits > first_rotation_pass;
    StepsAhead steps = {};
    if (step_ahead_in_trees) {
        SinCosStepper &osc = _osc_table[0];
        osc.reset();
        const int32_t h = int32_t(1) << first_rotation_pass;
        DT *const first_block = dest[first_rotation_pass - 1];
        steps = {osc, first_block, first_block + h, 1, h >> 1};
    }
    for (int32_t begin = 0; begin < _fft_len; begin += tree_len) {
        table_tree(k, dest, cos_table, begin, tree_bits, begin > 0 && step_ahead_in_trees ? &steps : nullptr);
    }

    for (int pass = first_rotation_pass; pass < _nbr_bits; ++pass) {
        DT *const df = dest[pass - 1];
        const DT *const sf = dest[pass - 2];
        const int32_t h = int32_t(1) << pass;
        SinCosStepper &osc = _osc_table[pass - first_rotation_pass];
        int32_t blocks_reading_steps = 4 * h;
        if (pass == first_rotation_pass) {
            // Stepped ahead: only what the table passes left over remains.
            while (steps.next < steps.end) {
                step_ahead(steps);
            }
            osc = steps.rotation;
            blocks_reading_steps = 2 * h;
        } else if (2 * h == _fft_len) {
            // A single block, whose butterflies run in the shadow of the steps.
            osc.reset();
            combine_block_stepping(df, sf, sf + h, h, osc, nullptr);
            continue;
        } else {
            // The second block steps the rotation and keeps the steps in the
            // destination of the first.
            osc.reset();
            combine_block_stepping(df + 2 * h, sf + 2 * h, sf + 3 * h, h, osc, df);
        }
        k.pass_stored_steps(df, sf, h, blocks_reading_steps, _fft_len);
        k.pass_stored_steps(df, sf, h, 0, 2 * h);
    }
}

template class FFTReal<double>;

void FFTReal_select_kernels(FFTRealKernels choice)
{
    selected_kernels.store(choice, std::memory_order_relaxed);
}

bool FFTReal_wide_kernels_active()
{
    return &kernels() != &narrow_kernels;
}
