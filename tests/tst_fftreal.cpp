// Checks of the real FFT: the packed layout on hand-worked spectra, accuracy
// against a long-double reference for every length from 1 to 2^20, the same
// bits as the plain pass-by-pass loops with either vector width, signals with
// known spectra, the calling contract (no allocation during a transform
// included), and the preconditions, whose failure messages must name the
// violated condition.

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "FFTReal/FFTReal.h"
#include "FFTReal/FFTRealKernels.h"

// Every allocation of this process is counted, so that a test can tell that a
// transform allocates nothing.
namespace {
std::atomic<long> allocationCount{0};
}

void *operator new(std::size_t size)
{
    ++allocationCount;
    if (void *p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

void *operator new(std::size_t size, std::align_val_t alignment)
{
    ++allocationCount;
    const std::size_t align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = size == 0 ? align : (size + align - 1) / align * align;
    if (void *p = std::aligned_alloc(align, rounded)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void *p, std::align_val_t) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}

namespace {

typedef long double Real;

const Real PI_L = 3.14159265358979323846264338327950288L;

std::vector<double> noise(int32_t n, uint64_t seed)
{
    std::mt19937_64 gen(seed);
    std::vector<double> x(static_cast<size_t>(n));
    for (double &v : x) {
        v = static_cast<double>(gen() >> 11) * 0x1.0p-52 - 1.0; // [-1, 1)
    }
    return x;
}

// The packed layout of FFTReal from the complex bins 0 ... N/2.
std::vector<Real> packed(const std::vector<Real> &re, const std::vector<Real> &im, int32_t n)
{
    std::vector<Real> f(static_cast<size_t>(n));
    const int32_t half = n / 2;
    f[0] = re[0];
    if (n > 1) {
        f[half] = re[half];
    }
    for (int32_t k = 1; k < half; ++k) {
        f[k] = re[k];
        f[half + k] = -im[k];
    }
    return f;
}

// The DFT by its definition, in long double; the angle index k*n is reduced
// modulo N so that every twiddle factor comes from an exact angle.
std::vector<Real> directDft(const std::vector<double> &x)
{
    const int32_t n = static_cast<int32_t>(x.size());
    std::vector<Real> cosTable(x.size()), sinTable(x.size());
    for (int32_t j = 0; j < n; ++j) {
        cosTable[j] = std::cos(2 * PI_L * j / n);
        sinTable[j] = std::sin(2 * PI_L * j / n);
    }
    std::vector<Real> re(x.size() / 2 + 1), im(x.size() / 2 + 1);
    for (int32_t k = 0; k <= n / 2; ++k) {
        Real sumRe = 0, sumIm = 0;
        for (int32_t m = 0; m < n; ++m) {
            const int32_t j = static_cast<int32_t>((int64_t(k) * m) % n);
            sumRe += x[m] * cosTable[j];
            sumIm -= x[m] * sinTable[j];
        }
        re[k] = sumRe;
        im[k] = sumIm;
    }
    return packed(re, im, n);
}

// An independent complex radix-2 FFT in long double (bit-reversed copy, then
// in-place butterflies with directly computed twiddle factors), for the
// lengths where the direct DFT would take too long.
std::vector<Real> referenceFft(const std::vector<double> &x)
{
    const int32_t n = static_cast<int32_t>(x.size());
    int bits = 0;
    while ((int32_t(1) << bits) < n) {
        ++bits;
    }
    std::vector<Real> re(x.size()), im(x.size(), 0);
    for (int32_t i = 0; i < n; ++i) {
        int32_t rev = 0;
        for (int b = 0; b < bits; ++b) {
            rev |= ((i >> b) & 1) << (bits - 1 - b);
        }
        re[rev] = x[i];
    }
    std::vector<Real> wRe(x.size() / 2 + 1), wIm(x.size() / 2 + 1);
    for (int32_t j = 0; j < n / 2; ++j) {
        wRe[j] = std::cos(2 * PI_L * j / n);
        wIm[j] = -std::sin(2 * PI_L * j / n);
    }
    for (int32_t len = 2; len <= n; len *= 2) {
        const int32_t stride = n / len;
        for (int32_t start = 0; start < n; start += len) {
            for (int32_t j = 0; j < len / 2; ++j) {
                const Real tr = wRe[j * stride], ti = wIm[j * stride];
                const int32_t a = start + j, b = a + len / 2;
                const Real br = re[b] * tr - im[b] * ti;
                const Real bi = re[b] * ti + im[b] * tr;
                re[b] = re[a] - br;
                im[b] = im[a] - bi;
                re[a] += br;
                im[a] += bi;
            }
        }
    }
    return packed(re, im, n);
}

// The transform as its plain algorithm, written out independently: passes 1
// and 2 through the bit-reversed indices, pass 3, then one pass after the
// other over the whole array, each block with twiddle factors from cos() up to
// pass 12 and from a rotation restarted at the block beyond. The operations
// and their order are those of each butterfly in FFTReal, so its blocked,
// vectorised loops must give exactly these bits. N >= 8.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("fp-contract=off")
#endif
std::vector<double> plainPasses(const std::vector<double> &x)
{
#if defined(__clang__)
#pragma clang fp contract(off)
#endif
    const int32_t n = static_cast<int32_t>(x.size());
    int bits = 0;
    while ((int32_t(1) << bits) < n) {
        ++bits;
    }
    const double pi = 3.1415926535897932384626433832795;
    std::vector<double> src(x.size()), dst(x.size());
    for (int32_t c = 0; c < n; c += 4) {
        int32_t r = 0;
        for (int b = 0; b < bits; ++b) {
            r |= ((c >> b) & 1) << (bits - 1 - b);
        }
        const double x0 = x[r], x2 = x[r + n / 2], x1 = x[r + n / 4], x3 = x[r + 3 * n / 4];
        dst[c + 1] = x0 - x2;
        dst[c + 3] = x1 - x3;
        dst[c] = (x0 + x2) + (x1 + x3);
        dst[c + 2] = (x0 + x2) - (x1 + x3);
    }
    std::swap(src, dst);
    const double s = 0.7071067811865476;
    for (int32_t c = 0; c < n; c += 8) {
        const double *e = &src[c], *o = e + 4;
        double *d = &dst[c];
        d[0] = e[0] + o[0];
        d[4] = e[0] - o[0];
        d[2] = e[2];
        d[6] = o[2];
        d[1] = e[1] + (o[1] - o[3]) * s;
        d[3] = e[1] - (o[1] - o[3]) * s;
        d[5] = (o[1] + o[3]) * s + e[3];
        d[7] = (o[1] + o[3]) * s - e[3];
    }
    for (int pass = 3; pass < bits; ++pass) {
        std::swap(src, dst);
        const int32_t h = int32_t(1) << pass, q = h / 2;
        const double step = pi / static_cast<double>(int32_t(1) << pass);
        const double rotation = (pi * 0.5) / static_cast<double>(int32_t(1) << (pass - 1));
        const double rotCos = std::cos(rotation), rotSin = std::sin(rotation);
        for (int32_t c = 0; c < n; c += 2 * h) {
            const double *e = &src[c], *o = e + h;
            double *d = &dst[c];
            d[0] = e[0] + o[0];
            d[h] = e[0] - o[0];
            d[q] = e[q];
            d[h + q] = o[q];
            double posCos = 1.0, posSin = 0.0;
            for (int32_t i = 1; i < q; ++i) {
                double cosA, sinA;
                if (pass <= 12) {
                    cosA = std::cos(i * step);
                    sinA = std::cos((q - i) * step);
                } else {
                    const double c0 = posCos;
                    posCos = c0 * rotCos - posSin * rotSin;
                    posSin = c0 * rotSin + posSin * rotCos;
                    cosA = posCos;
                    sinA = posSin;
                }
                const double vr = o[i] * cosA - o[q + i] * sinA;
                const double vi = o[i] * sinA + o[q + i] * cosA;
                d[i] = e[i] + vr;
                d[h - i] = e[i] - vr;
                d[h + i] = vi + e[q + i];
                d[2 * h - i] = vi - e[q + i];
            }
        }
    }
    return dst;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif

// Largest |got - want| over the packed positions, divided by the largest
// complex magnitude among the bins 0 ... N/2.
double relativeError(const std::vector<double> &got, const std::vector<Real> &want)
{
    const size_t n = want.size();
    const size_t half = n / 2;
    Real maxMagnitude = std::max(std::fabs(want[0]), std::fabs(want[half]));
    for (size_t k = 1; k < half; ++k) {
        maxMagnitude = std::max(maxMagnitude, std::sqrt(want[k] * want[k] + want[half + k] * want[half + k]));
    }
    Real maxError = 0;
    for (size_t j = 0; j < n; ++j) {
        maxError = std::max(maxError, std::fabs(got[j] - want[j]));
    }
    return static_cast<double>(maxError / maxMagnitude);
}

std::vector<double> transform(const std::vector<double> &x)
{
    FFTReal<double> fft(static_cast<int32_t>(x.size()));
    std::vector<double> f(x.size());
    fft.forward_fft(f.data(), x.data());
    return f;
}

// Runs action in a child process and returns what it wrote on stderr, and
// whether it ended by abort().
struct ChildOutcome {
    bool aborted;
    QString stderrText;
};

ChildOutcome runInChild(const std::function<void()> &action)
{
    int fds[2];
    if (pipe(fds) != 0) {
        return {false, QStringLiteral("pipe failed")};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        action();
        _exit(0);
    }
    close(fds[1]);
    QByteArray text;
    char chunk[512];
    ssize_t got;
    while ((got = read(fds[0], chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<int>(got));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT, QString::fromLocal8Bit(text)};
}

} // namespace

Q_DECLARE_METATYPE(std::vector<double>)
Q_DECLARE_METATYPE(std::function<void()>)

class TestFFTReal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void bitCount_data();
    void bitCount();

    void handWorkedSpectra_data();
    void handWorkedSpectra();

    void referenceAgreesWithDirectDft();

    void accuracyAgainstLongDouble_data();
    void accuracyAgainstLongDouble();

    void sameBitsAsPlainPasses_data();
    void sameBitsAsPlainPasses();

    void knownSignals_data();
    void knownSignals();

    void callingContract_data();
    void callingContract();

    void noAllocationDuringTransform();

    void preconditions_data();
    void preconditions();
};

void TestFFTReal::initTestCase()
{
    qInfo("vector kernels chosen for this processor: %s",
          FFTReal_wide_kernels_active() ? "four lanes (AVX2)" : "two lanes");
}

void TestFFTReal::cleanup()
{
    FFTReal_select_kernels(FFTRealKernels::Automatic);
}

void TestFFTReal::bitCount_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("pow2");

    QTest::newRow("1") << 1 << 0 << true;
    QTest::newRow("2") << 2 << 1 << true;
    QTest::newRow("8") << 8 << 3 << true;
    QTest::newRow("2^16, the 16-bit step boundary") << 65536 << 16 << true;
    QTest::newRow("2^17") << 131072 << 17 << true;
    QTest::newRow("2^30, the largest length") << (1 << 30) << 30 << true;
    QTest::newRow("3: bits of 2") << 3 << 2 << false;
    QTest::newRow("17: bits of 16") << 17 << 5 << false;
    QTest::newRow("65537: bits of 2^16") << 65537 << 17 << false;
    QTest::newRow("2^31 - 1") << 0x7fffffff << 31 << false;
}

void TestFFTReal::bitCount()
{
    QFETCH(int, length);
    QFETCH(int, bits);
    QFETCH(bool, pow2);

    QCOMPARE(FFTReal_bit_count(length), bits);
    QCOMPARE(FFTReal_is_pow2(length), pow2);
}

void TestFFTReal::handWorkedSpectra_data()
{
    QTest::addColumn<std::vector<double>>("input");
    QTest::addColumn<std::vector<double>>("expected");

    const double s = std::sqrt(0.5);
    const double r2 = std::sqrt(2.0);
    QTest::newRow("N=1") << std::vector<double>{5} << std::vector<double>{5};
    QTest::newRow("N=2") << std::vector<double>{1, 2} << std::vector<double>{3, -1};
    // X[1] = -2 + 2i: real part -2 at 1, minus the imaginary part -2 at 3.
    QTest::newRow("N=4 ramp") << std::vector<double>{1, 2, 3, 4}
                              << std::vector<double>{10, -2, -2, -2};
    QTest::newRow("N=4 impulse at 1") << std::vector<double>{0, 1, 0, 0}
                                      << std::vector<double>{1, 0, -1, 1};
    // X[k] = exp(-i pi k / 4): cos(pi k / 4) at k, sin(pi k / 4) at 4 + k.
    QTest::newRow("N=8 impulse at 1") << std::vector<double>{0, 1, 0, 0, 0, 0, 0, 0}
                                      << std::vector<double>{1, s, 0, -s, -1, s, 1, s};
    // X[k] = 8 / (w^k - 1) for k > 0, w = exp(-i pi / 4): X[1] = -4 + (4 + 4 sqrt 2) i,
    // X[2] = -4 + 4i, X[3] = -4 + (4 sqrt 2 - 4) i.
    QTest::newRow("N=8 ramp") << std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8}
                              << std::vector<double>{36, -4, -4, -4, -4, -4 - 4 * r2, -4, 4 - 4 * r2};
}

void TestFFTReal::handWorkedSpectra()
{
    QFETCH(std::vector<double>, input);
    QFETCH(std::vector<double>, expected);

    const std::vector<double> f = transform(input);
    for (size_t j = 0; j < f.size(); ++j) {
        // Up to N = 4 only sums and differences of small integers: exact. At
        // N = 8 the factor sqrt(2)/2 rounds, to within an ulp of the values.
        if (std::fabs(f[j] - expected[j]) > 1e-14) {
            QFAIL(qPrintable(QStringLiteral("position %1: got %2, expected %3")
                                 .arg(j).arg(f[j], 0, 'g', 17).arg(expected[j], 0, 'g', 17)));
        }
        if (f.size() <= 4) {
            QCOMPARE(f[j], expected[j]);
        }
    }
}

// The long-double FFT of this test is itself checked once against the
// definition, so that the large lengths below are measured against something
// trustworthy.
void TestFFTReal::referenceAgreesWithDirectDft()
{
    const std::vector<double> x = noise(1024, 7);
    const std::vector<Real> direct = directDft(x);
    const std::vector<Real> fast = referenceFft(x);
    Real maxError = 0;
    for (size_t j = 0; j < x.size(); ++j) {
        maxError = std::max(maxError, std::fabs(direct[j] - fast[j]));
    }
    QVERIFY2(maxError < 1e-15L, qPrintable(QString::number(static_cast<double>(maxError))));
}

void TestFFTReal::accuracyAgainstLongDouble_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<double>("bound");

    // Up to 2^13 every twiddle factor comes from the cosine table and the error
    // is a few ulps per pass. From 2^14 on the late passes rotate their twiddle
    // factors step by step, and rounding accumulates along each block.
    for (int bits = 0; bits <= 20; ++bits) {
        const double bound = bits <= 13 ? 1e-13 : 1e-10;
        QTest::newRow(qPrintable(QStringLiteral("N=2^%1").arg(bits))) << bits << bound;
    }
}

void TestFFTReal::accuracyAgainstLongDouble()
{
    QFETCH(int, bits);
    QFETCH(double, bound);

    const int32_t n = int32_t(1) << bits;
    const std::vector<double> x = noise(n, 1000 + bits);
    const std::vector<Real> want = n <= 2048 ? directDft(x) : referenceFft(x);
    const double error = relativeError(transform(x), want);
    qInfo("N = 2^%d: max error / max magnitude = %.3g", bits, error);
    QVERIFY2(error <= bound, qPrintable(QStringLiteral("error %1 above %2").arg(error).arg(bound)));
}

void TestFFTReal::sameBitsAsPlainPasses_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("narrow");

    // 8: no cosine table; 2^12 and 2^13: blocks handled depth first;
    // 2^14: one rotation pass of one block; 2^15: two blocks; 2^16 and
    // beyond: blocks that read the steps of the first; 2^20: seven rotation
    // passes. Each with the kernels of this processor and with two lanes.
    for (int bits = 3; bits <= 20; ++bits) {
        for (bool narrow : {false, true}) {
            QTest::newRow(qPrintable(QStringLiteral("N=2^%1 %2").arg(bits).arg(narrow ? "two lanes" : "automatic")))
                << bits << narrow;
        }
    }
}

void TestFFTReal::sameBitsAsPlainPasses()
{
    QFETCH(int, bits);
    QFETCH(bool, narrow);

    if (narrow) {
        FFTReal_select_kernels(FFTRealKernels::Narrow);
        QVERIFY(!FFTReal_wide_kernels_active());
    }
    const std::vector<double> x = noise(int32_t(1) << bits, 500 + bits);
    const std::vector<double> got = transform(x);
    const std::vector<double> want = plainPasses(x);
    for (size_t j = 0; j < got.size(); ++j) {
        if (std::memcmp(&got[j], &want[j], sizeof(double)) != 0) {
            QFAIL(qPrintable(QStringLiteral("position %1: got %2, plain passes give %3")
                                 .arg(j).arg(got[j], 0, 'g', 17).arg(want[j], 0, 'g', 17)));
        }
    }
}

void TestFFTReal::knownSignals_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<double>("constant");

    // 16: table passes only; 2^14: one rotation pass; 2^16: three.
    for (int length : {16, 1 << 14, 1 << 16}) {
        QTest::newRow(qPrintable(QStringLiteral("impulse N=%1").arg(length))) << length << 0.0;
        QTest::newRow(qPrintable(QStringLiteral("constant N=%1").arg(length))) << length << -0.375;
    }
}

// Both signals leave every partial spectrum with zeros wherever a twiddle
// factor would apply, so their results are exact.
void TestFFTReal::knownSignals()
{
    QFETCH(int, length);
    QFETCH(double, constant);

    const int32_t half = length / 2;
    std::vector<double> x(static_cast<size_t>(length), constant);
    if (constant == 0.0) {
        x[0] = 1.0; // unit impulse: 1 in every real position, 0 in every imaginary one
    }
    const std::vector<double> f = transform(x);
    for (int32_t j = 0; j < length; ++j) {
        double want;
        if (constant == 0.0) {
            want = j <= half ? 1.0 : 0.0;
        } else {
            want = j == 0 ? length * constant : 0.0;
        }
        if (f[j] != want) {
            QFAIL(qPrintable(QStringLiteral("position %1: got %2, expected %3").arg(j).arg(f[j]).arg(want)));
        }
    }
}

void TestFFTReal::callingContract_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("offset");

    QTest::newRow("N=4, direct") << 4 << 0;
    QTest::newRow("N=8, no cosine table") << 8 << 0;
    QTest::newRow("N=2^13, odd pass count") << (1 << 13) << 0;
    QTest::newRow("N=2^15, rotation passes") << (1 << 15) << 0;
    // Arrays that start one double past a vector boundary.
    QTest::newRow("N=2^10, misaligned arrays") << (1 << 10) << 1;
    QTest::newRow("N=2^16, misaligned arrays") << (1 << 16) << 1;
}

// The input stays as it was, nothing is written outside the N outputs, a
// second call on the same object gives the same bits, and so do arrays that
// are not aligned to the vector size.
void TestFFTReal::callingContract()
{
    QFETCH(int, length);
    QFETCH(int, offset);

    const double guard = 999.0;
    const std::vector<double> original = noise(length, 99);
    std::vector<double> x(static_cast<size_t>(length + offset));
    std::copy(original.begin(), original.end(), x.begin() + offset);
    const std::vector<double> xBefore = x;
    std::vector<double> first(static_cast<size_t>(length + 2 * offset + 1), guard);
    std::vector<double> second(static_cast<size_t>(length) + 1, guard);

    FFTReal<double> fft(length);
    fft.forward_fft(first.data() + offset, x.data() + offset);
    fft.forward_fft(second.data(), original.data());

    QVERIFY(x == xBefore);
    for (int j = 0; j < offset; ++j) {
        QCOMPARE(first[j], guard);
    }
    QCOMPARE(first[length + offset], guard);
    QCOMPARE(second[length], guard);
    QVERIFY(std::memcmp(first.data() + offset, second.data(), sizeof(double) * length) == 0);
}

// Only the constructor allocates; a transform, the first one included, works
// in the object's tables and buffer alone.
void TestFFTReal::noAllocationDuringTransform()
{
    for (int32_t length : {int32_t(1) << 10, int32_t(1) << 16}) {
        const std::vector<double> x = noise(length, 3);
        std::vector<double> f(x.size());
        FFTReal<double> fft(length);
        const long before = allocationCount.load();
        fft.forward_fft(f.data(), x.data());
        fft.forward_fft(f.data(), x.data());
        QCOMPARE(allocationCount.load() - before, 0L);
    }
}

void TestFFTReal::preconditions_data()
{
    QTest::addColumn<std::function<void()>>("action");
    QTest::addColumn<QString>("condition");

    QTest::newRow("length 0") << std::function<void()>([] { FFTReal<double> fft(0); })
                              << QStringLiteral("x > 0");
    QTest::newRow("length 12") << std::function<void()>([] { FFTReal<double> fft(12); })
                               << QStringLiteral("FFTReal_is_pow2 (length)");
    QTest::newRow("negative length") << std::function<void()>([] { FFTReal<double> fft(-8); })
                                     << QStringLiteral("size >= 0");
    QTest::newRow("array of negative size") << std::function<void()>([] { DynArray<int32_t> a(-1); })
                                            << QStringLiteral("size >= 0");
    QTest::newRow("array resized below 0") << std::function<void()>([] { DynArray<double> a(4); a.resize(-4); })
                                           << QStringLiteral("size >= 0");
    QTest::newRow("element -1") << std::function<void()>([] { DynArray<double> a(4); a[-1] = 0; })
                                << QStringLiteral("pos >= 0");
    QTest::newRow("element at length") << std::function<void()>([] { DynArray<double> a(4); a[4] = 0; })
                                       << QStringLiteral("pos < _len");
    QTest::newRow("element of an empty array") << std::function<void()>([] { DynArray<double> a; a[0] = 0; })
                                               << QStringLiteral("pos < _len");

    const auto callWith = [](int which) {
        return std::function<void()>([which] {
            FFTReal<double> fft(16);
            std::vector<double> a(16), b(16);
            double *const buffer = fft.use_buffer();
            switch (which) {
            case 0: fft.forward_fft(nullptr, a.data()); break;
            case 1: fft.forward_fft(b.data(), nullptr); break;
            case 2: fft.forward_fft(buffer, a.data()); break;
            case 3: fft.forward_fft(b.data(), buffer); break;
            default: fft.forward_fft(a.data(), a.data()); break;
            }
        });
    };
    QTest::newRow("output null") << callWith(0) << QStringLiteral("f != 0");
    QTest::newRow("input null") << callWith(1) << QStringLiteral("x != 0");
    QTest::newRow("output is the work buffer") << callWith(2) << QStringLiteral("f != use_buffer ()");
    QTest::newRow("input is the work buffer") << callWith(3) << QStringLiteral("x != use_buffer ()");
    QTest::newRow("in place") << callWith(4) << QStringLiteral("x != f");
}

// Each violation aborts, also in this Release build, and names its condition.
void TestFFTReal::preconditions()
{
    QFETCH(std::function<void()>, action);
    QFETCH(QString, condition);

    const ChildOutcome outcome = runInChild(action);
    QVERIFY2(outcome.aborted, qPrintable(outcome.stderrText));
    const QString expected = QStringLiteral("Assertion failed: %1, file").arg(condition);
    QVERIFY2(outcome.stderrText.contains(expected), qPrintable(outcome.stderrText));
}

QTEST_GUILESS_MAIN(TestFFTReal)
#include "tst_fftreal.moc"
