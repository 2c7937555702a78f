// SPDX-License-Identifier: LGPL-2.1-or-later
// libFuzzer target: drives the plug-in through its LV2 descriptor the way
// a host might, with every decision taken from the fuzzer's bytes: the
// sample rate, any float on any control port, raw audio (NaN, infinities,
// subnormals included), block sizes from 0 to 8192, reconnection of the
// audio ports (moved, shared in place, disconnected), activate and
// deactivate. After every run both outputs must be finite and equal.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>
#include <lv2/core/lv2.h>

#include "morvane.h"

namespace {

constexpr uint32_t kNumControls = 25;
constexpr uint32_t kMaxBlock = 8192;
// Bounds the work of one input so the fuzzer keeps its pace.
constexpr uint32_t kMaxSamplesPerInput = kMaxBlock + 1024;

void check_output(const float* l, const float* r, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (!std::isfinite(l[i]))
            __builtin_trap();
        if (r && std::memcmp(&l[i], &r[i], sizeof(float)) != 0)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider fdp(data, size);
    const LV2_Descriptor* d = lv2_descriptor(0);
    static const double kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000,
                                    88200, 96000, 176400, 192000, 384000};
    const double rate = fdp.ConsumeBool()
        ? kRates[fdp.ConsumeIntegralInRange<size_t>(0, 11)]
        : fdp.ConsumeFloatingPointInRange<double>(1000.0, 400000.0);
    LV2_Handle h = d->instantiate(d, rate, "/nonexistent/", nullptr);
    if (!h)
        return 0;

    static float controls[kNumControls];
    static std::vector<float> in_a(kMaxBlock), in_b(kMaxBlock), out_l(kMaxBlock), out_r(kMaxBlock);
    for (uint32_t i = 0; i < kNumControls; ++i) {
        controls[i] = 0.0f;
        d->connect_port(h, i, &controls[i]);
    }
    float* input = in_a.data();
    float* left = out_l.data();
    float* right = out_r.data();
    d->connect_port(h, MORVANE_INPUT_L, input);
    d->connect_port(h, MORVANE_INPUT_R, in_b.data());
    d->connect_port(h, MORVANE_OUTPUT_L, left);
    d->connect_port(h, MORVANE_OUTPUT_R, right);
    d->activate(h);

    uint32_t budget = kMaxSamplesPerInput;
    while (fdp.remaining_bytes() > 0) {
        switch (fdp.ConsumeIntegralInRange<int>(0, 5)) {
            case 0: {  // any float, bit for bit, on any control port
                const uint32_t port = fdp.ConsumeIntegralInRange<uint32_t>(0, kNumControls - 1);
                const uint32_t bits = fdp.ConsumeIntegral<uint32_t>();
                std::memcpy(&controls[port], &bits, sizeof bits);
                break;
            }
            case 1:
            case 2: {  // a run with raw or patterned audio
                uint32_t n = fdp.ConsumeIntegralInRange<uint32_t>(0, kMaxBlock);
                if (n > budget)
                    n = budget;
                budget -= n;
                const int fill = fdp.ConsumeIntegralInRange<int>(0, 3);
                const float level = fdp.ConsumeFloatingPoint<float>();
                for (uint32_t i = 0; i < n; ++i) {
                    float v = 0.0f;
                    if (fill == 0 && fdp.remaining_bytes() >= 4) {
                        const uint32_t bits = fdp.ConsumeIntegral<uint32_t>();
                        std::memcpy(&v, &bits, sizeof v);
                    } else if (fill == 1) {
                        v = level * static_cast<float>(std::sin(0.05 * i));
                    } else if (fill == 2) {
                        v = (i / 64) % 2 ? level : -level;
                    } else {
                        v = i == 0 ? level : 0.0f;
                    }
                    if (input)
                        input[i] = v;
                }
                d->run(h, n);
                if (input && left)
                    check_output(left, right, n);
                break;
            }
            case 3: {  // the audio ports moved, shared or disconnected
                const int what = fdp.ConsumeIntegralInRange<int>(0, 5);
                if (what == 0) {
                    input = nullptr;
                } else if (what == 1) {
                    input = in_a.data();
                } else if (what == 2) {
                    input = left ? left : in_a.data();  // processed in place
                } else if (what == 3) {
                    left = nullptr;
                } else if (what == 4) {
                    left = out_l.data();
                } else {
                    right = right ? nullptr : out_r.data();
                }
                d->connect_port(h, MORVANE_INPUT_L, input);
                d->connect_port(h, MORVANE_OUTPUT_L, left);
                d->connect_port(h, MORVANE_OUTPUT_R, right);
                break;
            }
            case 4:
                d->deactivate(h);
                d->activate(h);
                break;
            default:  // a port number beyond the table is ignored
                d->connect_port(h, fdp.ConsumeIntegralInRange<uint32_t>(29, 1000), nullptr);
                break;
        }
    }
    d->deactivate(h);
    d->cleanup(h);
    return 0;
}
