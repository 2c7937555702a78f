// SPDX-License-Identifier: LGPL-2.1-or-later
// Renders the effect engine over a fixed corpus of signals, settings,
// sample rates and block sizes, on the mono road and on both stereo roads,
// and writes every output sample to a file.
// Two builds of the engine that must agree bit for bit (the default build
// and the reference build) are compared by running this program in both and
// comparing the files; the listing on stdout (one line per case with its
// sample count and a hash of its output) shows which case differs.
//
//   morvane_corpus [--path avx2|avx512] OUT.bin [SPEECH.wav]
//
// --path runs the engine's AVX2 or AVX-512 kernels (default: the best this
// processor has); a path the processor lacks exits with status 77, which
// the test reports as skipped.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <quivex/libquivex.h>

#include "simd_path.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr unsigned kSeed = 20240611u;

// A small deterministic generator, so the corpus is the same everywhere.
struct Lcg {
    std::uint64_t s;
    std::uint32_t next()
    {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(s >> 33);
    }
    double uniform() { return next() * (1.0 / 2147483648.0); }  // [0, 1)
};

using Setter = void (*)(libquivex, float);

struct Control {
    const char* name;
    Setter set;
    float lo;
    float hi;
    float odd[3];  // values outside the musical range
};

const Control kControls[25] = {
    {"gain", libquivex_set_gain, 0.0f, 4.0f, {-1.0f, 16.0f, 0.0f}},
    {"amp_amp", libquivex_set_lfo_amp_amp, 0.0f, 2.0f, {-1.0f, 10.0f, 0.0f}},
    {"amp_freq", libquivex_set_lfo_amp_freq, 0.01f, 20.0f, {0.0f, -5.0f, 3000.0f}},
    {"amp_amount", libquivex_set_lfo_amp_amount, 0.0f, 1.0f, {-0.5f, 2.0f, 1.0f}},
    {"amp_mod", libquivex_set_lfo_amp_mod, 0.0f, 1.0f, {-0.25f, 1.5f, 0.0f}},
    {"freq_amp", libquivex_set_lfo_freq_amp, 0.0f, 1.4f, {-1.0f, 5.0f, 0.0f}},
    {"freq_freq", libquivex_set_lfo_freq_freq, 0.01f, 20.0f, {0.0f, -5.0f, 3000.0f}},
    {"freq_amount", libquivex_set_lfo_freq_amount, 0.0f, 1.0f, {-0.5f, 2.0f, 1.0f}},
    {"freq_mod", libquivex_set_lfo_freq_mod, 0.0f, 1.0f, {-0.25f, 1.5f, 0.0f}},
    {"time_amp", libquivex_set_lfo_time_amp, 0.0f, 2.0f, {-1.0f, 10.0f, 0.0f}},
    {"time_freq", libquivex_set_lfo_time_freq, 0.01f, 20.0f, {0.0f, -5.0f, 3000.0f}},
    {"time_amount", libquivex_set_lfo_time_amount, 0.0f, 1.0f, {-0.5f, 2.0f, 1.0f}},
    {"time_mod", libquivex_set_lfo_time_mod, 0.0f, 1.0f, {-0.25f, 1.5f, 0.0f}},
    {"amp_range_amp", libquivex_set_lfo_amp_range_amp, 0.0f, 2.0f, {-1.0f, 10.0f, 0.0f}},
    {"amp_range_freq", libquivex_set_lfo_amp_range_freq, 0.01f, 20.0f, {0.0f, -5.0f, 3000.0f}},
    {"amp_range_amount", libquivex_set_lfo_amp_range_amount, 0.0f, 1.0f, {-0.5f, 2.0f, 1.0f}},
    {"amp_range_mod", libquivex_set_lfo_amp_range_mod, 0.0f, 1.0f, {-0.25f, 1.5f, 0.0f}},
    {"freq_range_amp", libquivex_set_lfo_freq_range_amp, 0.0f, 2.0f, {-1.0f, 10.0f, 0.0f}},
    {"freq_range_freq", libquivex_set_lfo_freq_range_freq, 0.01f, 20.0f, {0.0f, -5.0f, 3000.0f}},
    {"freq_range_amount", libquivex_set_lfo_freq_range_amount, 0.0f, 1.0f, {-0.5f, 2.0f, 1.0f}},
    {"freq_range_mod", libquivex_set_lfo_freq_range_mod, 0.0f, 1.0f, {-0.25f, 1.5f, 0.0f}},
    {"time_range_amp", libquivex_set_lfo_time_range_amp, 0.0f, 2.0f, {-1.0f, 10.0f, 0.0f}},
    {"time_range_freq", libquivex_set_lfo_time_range_freq, 0.01f, 20.0f, {0.0f, -5.0f, 3000.0f}},
    {"time_range_amount", libquivex_set_lfo_time_range_amount, 0.0f, 1.0f, {-0.5f, 2.0f, 1.0f}},
    {"time_range_mod", libquivex_set_lfo_time_range_mod, 0.0f, 1.0f, {-0.25f, 1.5f, 0.0f}},
};

// All three shake LFOs moving, at different rates, depths and shapes.
void shake(libquivex q)
{
    libquivex_set_lfo_amp_amp(q, 1.0f);
    libquivex_set_lfo_amp_freq(q, 3.0f);
    libquivex_set_lfo_amp_amount(q, 0.5f);
    libquivex_set_lfo_amp_mod(q, 0.4f);
    libquivex_set_lfo_freq_amp(q, 0.3f);
    libquivex_set_lfo_freq_freq(q, 5.0f);
    libquivex_set_lfo_freq_amount(q, 0.7f);
    libquivex_set_lfo_freq_mod(q, 0.6f);
    libquivex_set_lfo_time_amp(q, 0.8f);
    libquivex_set_lfo_time_freq(q, 2.0f);
    libquivex_set_lfo_time_amount(q, 0.6f);
    libquivex_set_lfo_time_mod(q, 0.3f);
}

std::vector<float> tones(int rate, double seconds)
{
    Lcg g{7};
    const auto n = static_cast<std::size_t>(rate * seconds);
    std::vector<float> x(n);
    double glide = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        glide += kTwoPi * (300.0 + 900.0 * t) / rate;
        x[i] = static_cast<float>(0.25 * std::sin(kTwoPi * 110.0 * t) + 0.15 * std::sin(kTwoPi * 440.0 * t) +
                                  0.1 * std::sin(kTwoPi * 2500.0 * t) + 0.1 * std::sin(glide) +
                                  0.02 * (g.uniform() - 0.5));
    }
    return x;
}

std::vector<float> sine(int rate, double hz, double amp, double seconds)
{
    const auto n = static_cast<std::size_t>(rate * seconds);
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(amp * std::sin(kTwoPi * hz * static_cast<double>(i) / rate));
    return x;
}

// Exponential sweep from 20 Hz to 20 kHz.
std::vector<float> sweep(int rate, double seconds)
{
    const auto n = static_cast<std::size_t>(rate * seconds);
    std::vector<float> x(n);
    double phase = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double hz = 20.0 * std::pow(1000.0, static_cast<double>(i) / static_cast<double>(n));
        phase += kTwoPi * hz / rate;
        x[i] = static_cast<float>(0.5 * std::sin(phase));
    }
    return x;
}

std::vector<float> noise(int rate, double seconds)
{
    Lcg g{99};
    const auto n = static_cast<std::size_t>(rate * seconds);
    std::vector<float> x(n);
    for (auto& v : x)
        v = static_cast<float>(g.uniform() - 0.5);
    return x;
}

// Tone, a long silence (the resonators decay to nothing), tone again.
std::vector<float> gaps(int rate)
{
    std::vector<float> x = sine(rate, 660.0, 0.5, 0.2);
    x.resize(x.size() + static_cast<std::size_t>(rate), 0.0f);
    const auto again = sine(rate, 1320.0, 0.3, 0.2);
    x.insert(x.end(), again.begin(), again.end());
    return x;
}

// A tone with non-finite, huge and subnormal samples mixed in.
std::vector<float> hostile(int rate)
{
    std::vector<float> x = sine(rate, 300.0, 0.5, 0.2);
    const float odd[] = {NAN, INFINITY, -INFINITY, 1e6f, -1e6f, 1e-40f, -1e-42f, 0.0f, -0.0f};
    for (std::size_t i = 0; i < x.size(); i += 997)
        x[i] = odd[(i / 997) % (sizeof(odd) / sizeof(odd[0]))];
    // A sample so large that the resonators' state overflows, near the end.
    x[x.size() - 500] = 1e30f;
    return x;
}

// 16-bit PCM WAV, first channel; empty when the file is absent or odd.
std::vector<float> read_wav(const char* path)
{
    std::vector<float> x;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return x;
    std::vector<unsigned char> d;
    unsigned char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
        d.insert(d.end(), chunk, chunk + got);
    std::fclose(f);
    auto u32 = [&](std::size_t p) {
        return static_cast<std::uint32_t>(d[p] | (d[p + 1] << 8) | (d[p + 2] << 16) |
                                          (static_cast<std::uint32_t>(d[p + 3]) << 24));
    };
    auto u16 = [&](std::size_t p) { return static_cast<unsigned>(d[p] | (d[p + 1] << 8)); };
    if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) != 0 || std::memcmp(d.data() + 8, "WAVE", 4) != 0)
        return x;
    unsigned channels = 0, bits = 0;
    for (std::size_t p = 12; p + 8 <= d.size();) {
        const std::uint32_t size = u32(p + 4);
        const std::size_t body = p + 8;
        if (body + size > d.size())
            break;
        if (std::memcmp(d.data() + p, "fmt ", 4) == 0 && size >= 16) {
            channels = u16(body + 2);
            bits = u16(body + 14);
        } else if (std::memcmp(d.data() + p, "data", 4) == 0 && channels > 0 && bits == 16) {
            const std::size_t frame = 2u * channels;
            for (std::size_t q = body; q + frame <= body + size; q += frame)
                x.push_back(static_cast<float>(static_cast<std::int16_t>(u16(q))) / 32768.0f);
        }
        p = body + size + (size & 1u);
    }
    return x;
}

class Corpus {
public:
    explicit Corpus(std::FILE* out) : _out(out) {}

    // block > 0: fixed block size; block 0: random sizes from 1 to 700.
    // ramp, when given, moves one control across its range block by block
    // and then through its out-of-range values.
    void run(const std::string& name, int rate, const std::vector<float>& in, int block, bool shaken,
             const Control* ramp = nullptr)
    {
        std::srand(kSeed);
        libquivex q = libquivex_new(static_cast<unsigned long>(rate));
        if (q == nullptr) {
            std::fprintf(stderr, "libquivex_new(%d) failed\n", rate);
            std::exit(1);
        }
        if (shaken)
            shake(q);
        std::vector<float> buf(in);
        Lcg g{static_cast<std::uint64_t>(rate) + buf.size()};
        const std::size_t nblocks_ramp = ramp ? (buf.size() / static_cast<std::size_t>(block)) : 0;
        std::size_t b = 0;
        for (std::size_t pos = 0; pos < buf.size(); ++b) {
            std::size_t len = block > 0 ? static_cast<std::size_t>(block) : 1 + g.next() % 700;
            len = std::min(len, buf.size() - pos);
            if (ramp != nullptr) {
                const std::size_t odd_from = nblocks_ramp - 6;
                float v;
                if (b < odd_from)
                    v = ramp->lo + (ramp->hi - ramp->lo) * static_cast<float>(b) / static_cast<float>(odd_from - 1);
                else
                    v = ramp->odd[((b - odd_from) / 2) % 3];
                ramp->set(q, v);
            }
            libquivex_next_buffer(q, buf.data() + pos, static_cast<int>(len));
            pos += len;
        }
        libquivex_free(q);
        emit(name, rate, buf);
    }

    // The stereo roads, shaken, in random block sizes: one engine into two
    // outputs weighted per partial (pair false), or a second engine with the
    // first one's offsets shaking the same analysis with its LFOs 2 radians
    // ahead (pair true). The partial gains change halfway, so a glide runs.
    // Left and right go to the file one after the other.
    void run_stereo(const std::string& name, int rate, const std::vector<float>& in, bool pair)
    {
        std::srand(kSeed);
        libquivex q = libquivex_new(static_cast<unsigned long>(rate));
        libquivex right = pair && q != nullptr ? libquivex_new(static_cast<unsigned long>(rate)) : q;
        if (q == nullptr || right == nullptr) {
            std::fprintf(stderr, "libquivex_new(%d) failed\n", rate);
            std::exit(1);
        }
        shake(q);
        if (pair) {
            shake(right);
            libquivex_share_phase_offsets(right, q);
        }
        float gains[4][LIBQUIVEX_NUM_RESONATORS];
        for (int k = 0; k < LIBQUIVEX_NUM_RESONATORS; ++k) {
            gains[0][k] = static_cast<float>(1.0 + 0.75 * std::sin(0.37 * k));
            gains[1][k] = static_cast<float>(1.0 - 0.75 * std::sin(0.37 * k));
            gains[2][k] = k % 2 ? 0.2f : 1.8f;
            gains[3][k] = 2.0f - gains[2][k];
        }
        libquivex_set_partial_gains(q, gains[0], gains[1]);
        libquivex_set_partial_gains(right, gains[0], gains[1]);
        std::vector<float> out(2 * in.size());
        float* const left_out = out.data();
        float* const right_out = out.data() + in.size();
        Lcg g{static_cast<std::uint64_t>(rate) * 3 + in.size()};
        for (std::size_t pos = 0; pos < in.size();) {
            if (pos >= in.size() / 2 && pos - in.size() / 2 < 700) {
                libquivex_set_partial_gains(q, gains[2], gains[3]);
                libquivex_set_partial_gains(right, gains[2], gains[3]);
            }
            const int len = static_cast<int>(std::min<std::size_t>(1 + g.next() % 700, in.size() - pos));
            if (pair) {
                libquivex_follow_lfos(right, q, 2.0);
                libquivex_next_buffer_pair(q, right, in.data() + pos, left_out + pos, right_out + pos, len);
            } else {
                libquivex_next_buffer_stereo(q, in.data() + pos, left_out + pos, right_out + pos, len);
            }
            pos += static_cast<std::size_t>(len);
        }
        if (pair)
            libquivex_free(right);
        libquivex_free(q);
        emit(name, rate, out);
    }

private:
    // Appends the samples to the file and lists the case with their hash.
    void emit(const std::string& name, int rate, const std::vector<float>& buf)
    {
        std::fwrite(buf.data(), sizeof(float), buf.size(), _out);
        std::uint64_t h = 1469598103934665603ull;  // FNV-1a over the bytes
        const auto* bytes = reinterpret_cast<const unsigned char*>(buf.data());
        for (std::size_t i = 0; i < buf.size() * sizeof(float); ++i)
            h = (h ^ bytes[i]) * 1099511628211ull;
        std::printf("%-34s %6d Hz %8zu samples %016llx\n", name.c_str(), rate, buf.size(),
                    static_cast<unsigned long long>(h));
    }

    std::FILE* _out;
};

}  // namespace

int main(int argc, char** argv)
{
    const char* const program = argv[0];
    if (argc >= 3 && std::strcmp(argv[1], "--path") == 0) {
#if !defined(MORVANE_BASELINE) && !MORVANE_REFERENCE
        const bool avx512 = std::strcmp(argv[2], "avx512") == 0;
        if (!avx512 && std::strcmp(argv[2], "avx2") != 0) {
            std::fprintf(stderr, "%s: unknown path %s (avx2 or avx512)\n", program, argv[2]);
            return 2;
        }
        if (!tembra_simd::force_path(avx512 ? tembra_simd::kAvx512 : tembra_simd::kAvx2)) {
            std::printf("skipped: this processor lacks AVX-512 (F, BW, DQ, VL)\n");
            return 77;
        }
        std::printf("vector path: %s\n", tembra_simd::path_name(avx512 ? tembra_simd::kAvx512 : tembra_simd::kAvx2));
#endif
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--path avx2|avx512] OUT.bin [SPEECH.wav]\n", program);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const std::vector<float> speech = read_wav(argc > 2 ? argv[2] : "/usr/share/sounds/alsa/Front_Center.wav");
    if (speech.empty())
        std::printf("(no speech recording: case skipped)\n");
    Corpus c(out);
    for (int rate : {44100, 48000, 96000}) {
        c.run("sine-1k-default", rate, sine(rate, 1000.0, 0.5, 0.3), 256, false);
        c.run("tones-shaken-block1", rate, tones(rate, 0.15), 1, true);
        c.run("tones-shaken-block256", rate, tones(rate, 0.5), 256, true);
        c.run("sweep-shaken-block64", rate, sweep(rate, 2.0), 64, true);
        c.run("noise-shaken-random", rate, noise(rate, 0.4), 0, true);
        if (!speech.empty())
            c.run("speech-shaken-block256", rate, speech, 256, true);
        c.run("gaps-shaken-random", rate, gaps(rate), 0, true);
        c.run("gaps-default-block64", rate, gaps(rate), 64, false);
        c.run("hostile-shaken-block256", rate, hostile(rate), 256, true);
    }
    for (int rate : {44100, 48000}) {
        c.run_stereo("tones-stereo-random", rate, tones(rate, 0.5), false);
        c.run_stereo("tones-pair-offset-random", rate, tones(rate, 0.5), true);
    }
    const std::vector<float> base = tones(48000, 0.2);
    for (const Control& k : kControls)
        c.run(std::string("ramp-") + k.name, 48000, base, 64, true, &k);
    std::fclose(out);
    return 0;
}
