// Speed of WavFile reading and decoding a canonical mono 44.1 kHz file of
// 8, 16 and 24 bits, 10 s long (the length of a long stimulus) and 60 s long,
// measured beside libsndfile reading the same bytes to doubles with
// sf_readf_double, in the same run. libsndfile is only the yardstick: the
// program never links it. Both decode to the same values (checked before the
// first run).
//
// Two sources: "memory", both readers fed from the same bytes in memory
// through a stream (ours) and virtual I/O (libsndfile), so that only parsing
// and decoding are timed; and "file", both opening the same file from the
// temporary folder, which the page cache holds after the first run, as the
// program reads a trial's sound. One WavFile and one output buffer are reused
// for every iteration, as the program reuses its one WavFile. At the end the
// ratio of the CPU times, ours / libsndfile, is printed for every case; the
// target is at most 1.0.

#include "FastestRunReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <map>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

#include <unistd.h>

#include "wav/WavFile.h"

#ifdef TARQUEL_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

const int64_t RATE_HZ = 44100;
const int BIT_WIDTHS[] = {8, 16, 24};
const int LENGTHS_S[] = {10, 60};

void putLe(std::string &bytes, size_t offset, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[offset + size_t(i)] = char(value >> (8 * i));
}

// A canonical 44-byte-header mono file of pseudo-random samples.
std::string makeWav(int bits, int seconds)
{
    const uint32_t bytesPerSample = uint32_t(bits / 8);
    const uint32_t dataBytes = uint32_t(RATE_HZ * seconds) * bytesPerSample;
    std::string file(44 + size_t(dataBytes), '\0');
    std::memcpy(&file[0], "RIFF", 4);
    putLe(file, 4, 36 + dataBytes, 4);
    std::memcpy(&file[8], "WAVEfmt ", 8);
    putLe(file, 16, 16, 4);
    putLe(file, 20, 1, 2);
    putLe(file, 22, 1, 2);
    putLe(file, 24, uint32_t(RATE_HZ), 4);
    putLe(file, 28, uint32_t(RATE_HZ) * bytesPerSample, 4);
    putLe(file, 32, bytesPerSample, 2);
    putLe(file, 34, uint32_t(bits), 2);
    std::memcpy(&file[36], "data", 4);
    putLe(file, 40, dataBytes, 4);
    std::mt19937 gen(uint32_t(bits * 1000 + seconds));
    for (size_t i = 44; i < file.size(); ++i)
        file[i] = char(gen());
    return file;
}

// The bytes and the path of each test file, made once.
struct TestFile
{
    std::string bytes;
    std::string path;
};

std::map<std::pair<int, int>, TestFile> &testFiles()
{
    static std::map<std::pair<int, int>, TestFile> files;
    return files;
}

const TestFile &testFile(int bits, int seconds)
{
    TestFile &file = testFiles()[{bits, seconds}];
    if (file.bytes.empty()) {
        file.bytes = makeWav(bits, seconds);
        const char *tmp = std::getenv("TMPDIR");
        file.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_wav_" + std::to_string(getpid()) + "_"
            + std::to_string(bits) + "_" + std::to_string(seconds) + ".wav";
        std::ofstream out(file.path, std::ios::binary);
        out.write(file.bytes.data(), std::streamsize(file.bytes.size()));
    }
    return file;
}

// A seekable read-only stream buffer over bytes in memory, so that no copy of
// the file is made per read.
class MemoryBuffer : public std::streambuf
{
public:
    explicit MemoryBuffer(const std::string &bytes)
    {
        char *begin = const_cast<char *>(bytes.data());
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) override
    {
        const off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? gptr() - eback()
                                                                                         : egptr() - eback();
        return seekpos(pos_type(base + offset), std::ios_base::in);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode) override
    {
        if (off_type(position) < 0 || off_type(position) > egptr() - eback())
            return pos_type(off_type(-1));
        setg(eback(), eback() + off_type(position), egptr());
        return position;
    }
};

void BM_WavFile_memory(benchmark::State &state)
{
    const TestFile &file = testFile(int(state.range(0)), int(state.range(1)));
    WavFile wav;
    for (auto _ : state) {
        MemoryBuffer buffer(file.bytes);
        std::istream in(&buffer);
        if (!wav.readFrom(in, "memory.wav")) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(wav.sampleData);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * RATE_HZ * state.range(1));
}

void BM_WavFile_file(benchmark::State &state)
{
    const TestFile &file = testFile(int(state.range(0)), int(state.range(1)));
    WavFile wav;
    for (auto _ : state) {
        if (!wav.read(file.path)) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(wav.sampleData);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * RATE_HZ * state.range(1));
}

#ifdef TARQUEL_HAVE_SNDFILE
// libsndfile's virtual I/O over the same bytes in memory.
struct MemoryFile
{
    const std::string *bytes;
    sf_count_t position;
};

sf_count_t memoryLength(void *user)
{
    return sf_count_t(static_cast<MemoryFile *>(user)->bytes->size());
}

sf_count_t memorySeek(sf_count_t offset, int whence, void *user)
{
    MemoryFile &file = *static_cast<MemoryFile *>(user);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file.position : memoryLength(user);
    file.position = std::max<sf_count_t>(0, std::min(base + offset, memoryLength(user)));
    return file.position;
}

sf_count_t memoryRead(void *to, sf_count_t count, void *user)
{
    MemoryFile &file = *static_cast<MemoryFile *>(user);
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, memoryLength(user) - file.position));
    std::memcpy(to, file.bytes->data() + file.position, size_t(n));
    file.position += n;
    return n;
}

sf_count_t memoryWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t memoryTell(void *user)
{
    return static_cast<MemoryFile *>(user)->position;
}

// Reads every frame of an open file to doubles (libsndfile's default scaling,
// 2^-(bits-1), the same as ours). Returns the frames read.
sf_count_t readAll(SNDFILE *sound, const SF_INFO &info, std::vector<double> &out)
{
    out.resize(size_t(info.frames * info.channels));
    const sf_count_t frames = sf_readf_double(sound, out.data(), info.frames);
    sf_close(sound);
    return frames;
}

SNDFILE *openMemory(MemoryFile &memory, SF_INFO &info)
{
    static SF_VIRTUAL_IO io = {memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    info = SF_INFO();
    return sf_open_virtual(&io, SFM_READ, &info, &memory);
}

void BM_sndfile_memory(benchmark::State &state)
{
    const TestFile &file = testFile(int(state.range(0)), int(state.range(1)));
    std::vector<double> out;
    for (auto _ : state) {
        MemoryFile memory{&file.bytes, 0};
        SF_INFO info;
        SNDFILE *sound = openMemory(memory, info);
        if (!sound || readAll(sound, info, out) != info.frames) {
            state.SkipWithError("libsndfile read failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * RATE_HZ * state.range(1));
}

void BM_sndfile_file(benchmark::State &state)
{
    const TestFile &file = testFile(int(state.range(0)), int(state.range(1)));
    std::vector<double> out;
    for (auto _ : state) {
        SF_INFO info = SF_INFO();
        SNDFILE *sound = sf_open(file.path.c_str(), SFM_READ, &info);
        if (!sound || readAll(sound, info, out) != info.frames) {
            state.SkipWithError("libsndfile read failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * RATE_HZ * state.range(1));
}

// Both readers must give the same values, or the comparison means nothing.
bool sameDecoding(int bits, int seconds)
{
    const TestFile &file = testFile(bits, seconds);
    WavFile wav;
    if (!wav.read(file.path))
        return false;
    MemoryFile memory{&file.bytes, 0};
    SF_INFO info;
    SNDFILE *sound = openMemory(memory, info);
    std::vector<double> theirs;
    if (!sound || readAll(sound, info, theirs) != info.frames)
        return false;
    return wav.decodedSamples == theirs;
}
#endif


std::string caseName(int bits, int seconds)
{
    return std::to_string(bits) + "/" + std::to_string(seconds);
}

} // namespace

int main(int argc, char **argv)
{
#ifdef TARQUEL_HAVE_SNDFILE
    for (const int seconds : LENGTHS_S) {
        for (const int bits : BIT_WIDTHS) {
            if (!sameDecoding(bits, seconds)) {
                std::fprintf(stderr, "WavFile and libsndfile decode the %d-bit file differently\n", bits);
                return 1;
            }
        }
    }
#endif

    // Each case of ours right beside the same case of libsndfile, so that both
    // see the same state of the machine.
    for (const char *source : {"memory", "file"}) {
        const bool memory = std::strcmp(source, "memory") == 0;
        for (const int seconds : LENGTHS_S) {
            for (const int bits : BIT_WIDTHS) {
                benchmark::RegisterBenchmark((std::string("WavFile_") + source).c_str(),
                                             memory ? BM_WavFile_memory : BM_WavFile_file)
                    ->Args({bits, seconds})
                    ->Unit(benchmark::kMicrosecond);
#ifdef TARQUEL_HAVE_SNDFILE
                benchmark::RegisterBenchmark((std::string("sndfile_") + source).c_str(),
                                             memory ? BM_sndfile_memory : BM_sndfile_file)
                    ->Args({bits, seconds})
                    ->Unit(benchmark::kMicrosecond);
#endif
            }
        }
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // CPU time, not wall time: the machine is shared, and a reader that is
    // descheduled is not slower for it.
    FastestRunReporter reporter(FastestRunReporter::Clock::Cpu);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

#ifdef TARQUEL_HAVE_SNDFILE
    std::printf("\n%-7s %5s %4s %14s %15s %10s %7s\n", "source", "bits", "s", "WavFile (us)", "libsndfile (us)",
                "ours/them", "target");
    for (const char *source : {"memory", "file"}) {
        const auto &ours = reporter.times[std::string("WavFile_") + source];
        const auto &theirs = reporter.times[std::string("sndfile_") + source];
        for (const int seconds : LENGTHS_S) {
            for (const int bits : BIT_WIDTHS) {
                const auto a = ours.find(caseName(bits, seconds));
                const auto b = theirs.find(caseName(bits, seconds));
                if (a == ours.end() || b == theirs.end())
                    continue;
                std::printf("%-7s %5d %4d %14.1f %15.1f %10.2f %7s\n", source, bits, seconds, a->second / 1e3,
                            b->second / 1e3, a->second / b->second, "<= 1.0");
            }
        }
    }
#else
    std::printf("\nlibsndfile not found at build time: no ratios.\n");
#endif

    for (const auto &entry : testFiles())
        std::remove(entry.second.path.c_str());
    return 0;
}
