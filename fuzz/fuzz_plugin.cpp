// SPDX-License-Identifier: LGPL-2.1-or-later
// libFuzzer target: drives the plug-in through its LV2 descriptor the way
// a host might, with every decision taken from the fuzzer's bytes: the
// plug-in (mono or stereo), the sample rate, any float on any control port, raw audio (NaN, infinities,
// subnormals included), block sizes from 0 to 8192, reconnection of the
// audio ports (moved, shared in place, disconnected), activate and
// deactivate; the host's song positions, good and bad, at any time of the
// run; and the window's data path: any bytes as messages on the control
// port (a window opening and closing among them), handed to run in
// an allocation of exactly the sequence's claimed size, any capacity of
// the notify port. After every run both outputs must be finite (and equal
// for the mono plug-in),
// and the notify port must hold a valid sequence within its capacity, with
// nothing written beyond it.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <string>

#include <fuzzer/FuzzedDataProvider.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/time/time.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "controls.h"
#include "frame.h"
#include "inline_display.h"
#include "morvane.h"

namespace {

constexpr uint32_t kMaxBlock = 8192;
// Bounds the work of one input so the fuzzer keeps its pace.
constexpr uint32_t kMaxSamplesPerInput = kMaxBlock + 1024;

// The fuzzing host's URID map: URIs numbered from 1 in the order asked.
std::vector<std::string>& mapped_uris()
{
    static std::vector<std::string> uris;
    return uris;
}

LV2_URID map_uri(LV2_URID_Map_Handle, const char* uri)
{
    auto& uris = mapped_uris();
    for (std::size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri)
            return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

constexpr uint32_t kAtomCapacity = 8192;
constexpr uint32_t kGuard = 64;

// An atom port's buffer: 8-aligned, with guard bytes after the capacity.
struct AtomPort {
    alignas(8) uint8_t bytes[sizeof(LV2_Atom) + kAtomCapacity + kGuard];
    LV2_Atom_Sequence* seq() { return reinterpret_cast<LV2_Atom_Sequence*>(bytes); }
};

void check_notify(AtomPort& notify, uint32_t capacity, LV2_URID sequence_type)
{
    const LV2_Atom_Sequence* seq = notify.seq();
    if (seq->atom.type != sequence_type || seq->atom.size > capacity)
        __builtin_trap();
    for (uint32_t i = 0; i < kGuard; ++i)
        if (notify.bytes[sizeof(LV2_Atom) + capacity + i] != 0xA5)
            __builtin_trap();
}

void check_output(const float* l, const float* r, uint32_t n, bool stereo)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (!std::isfinite(l[i]))
            __builtin_trap();
        if (r && stereo && !std::isfinite(r[i]))
            __builtin_trap();
        if (r && !stereo && std::memcmp(&l[i], &r[i], sizeof(float)) != 0)
            __builtin_trap();
    }
}

// A time:Position as hosts send it, typed Object or Blank, with any subset
// of its keys, each as Int, Long, Float or Double, any value (NaN, infinite,
// negative and zero tempos, frames and meters among them); its event time
// is the event's, which the caller writes as 0 or, through the raw bytes
// case, anything. Returns its size.
uint32_t forge_position(FuzzedDataProvider& fdp, uint8_t* buf, uint32_t capacity)
{
    static const char* const keys[] = {LV2_TIME__frame, LV2_TIME__speed, LV2_TIME__bar,
                                       LV2_TIME__barBeat, LV2_TIME__beat, LV2_TIME__beatUnit,
                                       LV2_TIME__beatsPerBar, LV2_TIME__beatsPerMinute};
    static LV2_URID_Map map = {nullptr, map_uri};
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &map);
    lv2_atom_forge_set_buffer(&forge, buf, capacity);
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(&forge, &frame, 0, map_uri(nullptr, LV2_TIME__Position));
    for (const char* key : keys) {
        if (!fdp.ConsumeBool())
            continue;
        lv2_atom_forge_key(&forge, map_uri(nullptr, key));
        const int kind = fdp.ConsumeIntegralInRange<int>(0, 3);
        const double v = kind == 0 ? NAN
                       : kind == 1 ? -INFINITY
                       : kind == 2 ? fdp.ConsumeFloatingPoint<double>()
                                   : fdp.ConsumeFloatingPointInRange<double>(-4.0, 200000.0);
        switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
            case 0: lv2_atom_forge_int(&forge, static_cast<int32_t>(std::fmax(-1e9, std::fmin(1e9, v)))); break;
            case 1: lv2_atom_forge_long(&forge, static_cast<int64_t>(std::fmax(-1e15, std::fmin(1e15, v)))); break;
            case 2: lv2_atom_forge_float(&forge, static_cast<float>(v)); break;
            default: lv2_atom_forge_double(&forge, v); break;
        }
    }
    lv2_atom_forge_pop(&forge, &frame);
    auto* atom = reinterpret_cast<LV2_Atom*>(buf);
    if (fdp.ConsumeBool())
        atom->type = map_uri(nullptr, LV2_ATOM__Blank);
    return static_cast<uint32_t>(sizeof(LV2_Atom) + atom->size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider fdp(data, size);
    const bool stereo = fdp.ConsumeBool();
    const LV2_Descriptor* d = lv2_descriptor(stereo ? 1 : 0);
    const uint32_t rows = stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
    static const double kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000,
                                    88200, 96000, 176400, 192000, 384000};
    const double rate = fdp.ConsumeBool()
        ? kRates[fdp.ConsumeIntegralInRange<size_t>(0, 11)]
        : fdp.ConsumeFloatingPointInRange<double>(1000.0, 400000.0);
    static LV2_URID_Map map = {nullptr, map_uri};
    static const LV2_Feature map_feature = {LV2_URID__map, &map};
    static morvane_inline_queue_draw queue = {nullptr, [](void*) {}};
    static const LV2_Feature queue_feature = {MORVANE_INLINEDISPLAY__queue_draw, &queue};
    static const LV2_Feature* const features[] = {&map_feature, &queue_feature, nullptr};
    const bool mapped = fdp.ConsumeBool();
    LV2_Handle h = d->instantiate(d, rate, "/nonexistent/", mapped ? features : nullptr);
    if (!h)
        return 0;
    morvane_uris uris{};
    morvane_map_uris(&uris, &map);
    static AtomPort control, notify;
    uint32_t notify_capacity = kAtomCapacity;
    control.seq()->atom = {sizeof(LV2_Atom_Sequence_Body), uris._atom_Sequence};
    control.seq()->body = {0, 0};
    std::memset(notify.bytes, 0, sizeof notify.bytes);
    std::memset(notify.bytes + sizeof(LV2_Atom) + notify_capacity, 0xA5, kGuard);
    d->connect_port(h, MORVANE_NOTIFY, notify.seq());

    static float controls[MORVANE_NUM_STEREO_CONTROLS];
    static std::vector<float> in_a(kMaxBlock), in_b(kMaxBlock), out_l(kMaxBlock), out_r(kMaxBlock);
    for (uint32_t i = 0; i < rows; ++i) {
        controls[i] = 0.0f;
        d->connect_port(h, morvane_controls[i]._port, &controls[i]);
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
        switch (fdp.ConsumeIntegralInRange<int>(0, 7)) {
            case 0: {  // any float, bit for bit, on any control port
                const uint32_t port = fdp.ConsumeIntegralInRange<uint32_t>(0, rows - 1);
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
                    in_b[i] = fill == 3 ? v : -0.5f * v;  // the right channel: another signal
                }
                notify.seq()->atom = {notify_capacity, uris._atom_Sequence};
                // The control sequence as the plug-in gets it: in an
                // allocation of exactly the size it claims, so that the
                // sanitizer sees a read of even one byte beyond it.
                const size_t control_bytes = sizeof(LV2_Atom) + control.seq()->atom.size;
                auto* exact = static_cast<uint8_t*>(std::malloc(control_bytes));
                std::memcpy(exact, control.bytes, control_bytes);
                d->connect_port(h, MORVANE_CONTROL, exact);
                d->run(h, n);
                d->connect_port(h, MORVANE_CONTROL, nullptr);
                std::free(exact);
                if (input && left)
                    check_output(left, right, n, stereo);
                if (mapped)
                    check_notify(notify, notify_capacity, uris._atom_Sequence);
                control.seq()->atom.size = sizeof(LV2_Atom_Sequence_Body);
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
            case 5: {  // messages on the control port: the window's, a song position, or any bytes
                const int what = fdp.ConsumeIntegralInRange<int>(0, 3);
                alignas(8) uint8_t message[512];
                std::vector<uint8_t> raw;
                uint32_t size;
                if (what < 2) {
                    size = morvane_window_message(&uris, what == 0, message, sizeof message);
                } else if (what == 3) {
                    size = forge_position(fdp, message, sizeof message);
                } else {
                    raw = fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(0, 600));
                    size = static_cast<uint32_t>(raw.size());
                }
                // An event: its frame time, then the bytes as its atom; the
                // sequence's size may even be set to anything within the buffer.
                uint32_t used = control.seq()->atom.size;
                if (used + 8 + size + 8 <= kAtomCapacity) {
                    uint8_t* at = control.bytes + sizeof(LV2_Atom) + used;
                    // Its time: 0, or any frame (within the run or not).
                    const int64_t when = what == 3 ? fdp.ConsumeIntegralInRange<int64_t>(-10, 9000) : 0;
                    std::memcpy(at, &when, sizeof when);
                    if (size > 0)
                        std::memcpy(at + 8, what != 2 ? message : raw.data(), size);
                    used += (8 + size + 7) & ~7u;
                    control.seq()->atom.size = fdp.ConsumeBool()
                        ? used
                        : fdp.ConsumeIntegralInRange<uint32_t>(0, kAtomCapacity);
                }
                break;
            }
            case 6: {  // the notify port resized, moved away or back
                const int what = fdp.ConsumeIntegralInRange<int>(0, 2);
                if (what == 0) {
                    d->connect_port(h, MORVANE_NOTIFY, nullptr);
                } else {
                    d->connect_port(h, MORVANE_NOTIFY, notify.seq());
                    if (what == 2) {
                        notify_capacity = fdp.ConsumeIntegralInRange<uint32_t>(0, kAtomCapacity);
                        std::memset(notify.bytes + sizeof(LV2_Atom) + notify_capacity, 0xA5, kGuard);
                    }
                }
                break;
            }
            default:  // a port number beyond the table is ignored
                d->connect_port(h, fdp.ConsumeIntegralInRange<uint32_t>(stereo ? 40 : 37, 1000), nullptr);
                break;
        }
    }
    d->deactivate(h);
    d->cleanup(h);
    return 0;
}
