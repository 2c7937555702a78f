// SPDX-License-Identifier: LGPL-2.1-or-later
// Real-time safety and faults of the built plug-in, driven through the
// LV2 descriptor of the shared object that lilv loads:
//  - run allocates and frees nothing, for every control setting, block
//    size and port reconnection, after instantiate;
//  - run makes no system call at all (a child process runs it in strict
//    seccomp mode, where any call other than read, write and exit kills it);
//  - instantiate survives the failure of each of its allocations;
//  - instances on many threads at once share nothing;
//  - the CLAP shell's process (morvane.clap, where built) allocates
//    nothing and makes no system call either, with parameter and
//    transport events in its blocks; nor does the VST3 shell's (the
//    .vst3 bundles, where built), with parameter and program changes and
//    process contexts.
// This program replaces the C allocator to count and refuse allocations,
// so it is a program of its own. Under a sanitizer (which owns the
// allocator) only the thread tests run.
#include <gtest/gtest.h>

#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/time/time.h>

#include "morvane.h"
#include "morvane_internal.h"
#include "plugin_host.h"
#include "song_positions.h"
#if defined(MORVANE_CLAP_FILE)
#include "clap_host.h"
#include "draw.h"
#include "frame_mailbox.h"
#include "x_parent.h"
#endif
#if defined(MORVANE_VST3_MONO_FILE)
#include "vst3_host.h"
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RT_SANITIZED 1
#endif
#endif
#ifndef RT_SANITIZED
#define RT_SANITIZED 0
#endif

// ---------------------------------------------------------------------------
// Allocation probe: while armed, every allocation and release of the
// process is counted, one allocation can be refused, and the blocks still
// alive are tracked.
namespace {
struct Probe {
    std::atomic<bool> armed{false};
    long allocs = 0;
    long frees = 0;
    long fail_at = -1;
    int live_count = 0;
    void* live[8192] = {};

    bool refuse() { return allocs++ == fail_at; }
    void add(void* p)
    {
        if (p && live_count < 8192)
            live[live_count++] = p;
    }
    void remove(void* p)
    {
        for (int i = 0; i < live_count; ++i)
            if (live[i] == p) {
                live[i] = live[--live_count];
                return;
            }
    }
    void arm(long fail)
    {
        allocs = frees = 0;
        fail_at = fail;
        live_count = 0;
        armed = true;
    }
    void disarm() { armed = false; }
};
constinit Probe g_probe;
}  // namespace

#if !RT_SANITIZED
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t n) noexcept
{
    if (!g_probe.armed)
        return __libc_malloc(n);
    if (g_probe.refuse())
        return nullptr;
    void* p = __libc_malloc(n);
    g_probe.add(p);
    return p;
}
void* calloc(size_t n, size_t size) noexcept
{
    if (!g_probe.armed)
        return __libc_calloc(n, size);
    if (g_probe.refuse())
        return nullptr;
    void* p = __libc_calloc(n, size);
    g_probe.add(p);
    return p;
}
void* realloc(void* old, size_t n) noexcept
{
    if (!g_probe.armed)
        return __libc_realloc(old, n);
    if (g_probe.refuse())
        return nullptr;
    void* p = __libc_realloc(old, n);
    if (p) {
        g_probe.remove(old);
        g_probe.add(p);
    }
    return p;
}
void* aligned_alloc(size_t alignment, size_t n) noexcept
{
    if (g_probe.armed && g_probe.refuse())
        return nullptr;
    void* p = __libc_memalign(alignment, n);
    if (g_probe.armed)
        g_probe.add(p);
    return p;
}
int posix_memalign(void** out, size_t alignment, size_t n) noexcept
{
    if (g_probe.armed && g_probe.refuse())
        return ENOMEM;
    void* p = __libc_memalign(alignment, n);
    if (!p)
        return ENOMEM;
    if (g_probe.armed)
        g_probe.add(p);
    *out = p;
    return 0;
}
void free(void* p) noexcept
{
    if (g_probe.armed && p) {
        ++g_probe.frees;
        g_probe.remove(p);
    }
    __libc_free(p);
}
}
#endif

namespace {

constexpr uint32_t kMaxBlock = 8192;

// One instance that runs with everything the window and a host's inline
// display ask of run switched on: a URID map and queue_draw offered, both
// atom ports connected and a window that says it is open, so frames and
// snapshots go out while the probes watch.
struct Instance : PluginHost {
    explicit Instance(double rate, unsigned seed = 1, bool stereo = false)
        : PluginHost(rate, HostSetup{.max_block = kMaxBlock, .stereo = stereo, .seed = seed, .offer_urid_map = true,
                                     .offer_queue_draw = true, .connect_atom_ports = true,
                                     .control_capacity = 256})
    {
        send_window_message(true);
        // Song positions as hosts send them, and bad ones, made before any
        // probe watches (mapping their keys allocates).
        TestUridMap& map = LilvTestWorld::get().urids();
        positions.emplace_back(map, std::initializer_list<PositionKey>{
                                        {LV2_TIME__frame, 96000, 'l'}, {LV2_TIME__speed, 1, 'f'},
                                        {LV2_TIME__bar, 4, 'l'}, {LV2_TIME__barBeat, 1.5, 'f'},
                                        {LV2_TIME__beatsPerMinute, 132, 'f'}});
        positions.emplace_back(map, std::initializer_list<PositionKey>{
                                        {LV2_TIME__frame, 0, 'd'}, {LV2_TIME__beat, 0, 'd'},
                                        {LV2_TIME__speed, -0.5, 'd'}}, true);
        positions.emplace_back(map, std::initializer_list<PositionKey>{{LV2_TIME__speed, 0, 'f'}});
        positions.emplace_back(map, std::initializer_list<PositionKey>{
                                        {LV2_TIME__beatsPerMinute, std::nan(""), 'f'}, {LV2_TIME__frame, -5, 'l'}});
    }

    // The next run gets song position k (of four) at its middle sample.
    void send_position(std::size_t k, uint32_t n) { control().append(positions[k % 4].atom(), positions[k % 4].size(), n / 2); }
    std::vector<Position> positions;

    void fill(uint32_t n, uint32_t salt)
    {
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t k = (i + salt) * 2654435761u;
            in_l()[i] = static_cast<float>(0.5 * std::sin(0.031 * (i + salt))) +
                        static_cast<float>(k >> 8) / 16777216.0f * 0.1f - 0.05f;
            in_r()[i] = static_cast<float>(0.3 * std::sin(0.017 * (i + salt)));
        }
    }
    bool finite(uint32_t n)
    {
        for (uint32_t i = 0; i < n; ++i)
            if (!std::isfinite(out_l()[i]) || !std::isfinite(out_r()[i]))
                return false;
        return true;
    }
};

// Values every control port is tried with: the declared range's ends and
// default, and what no host should send.
std::vector<float> hostile_values(uint32_t port)
{
    const morvane_control& r = morvane_controls[port];
    return {r._min,
            r._default,
            r._max,
            0.5f * (r._min + r._max),
            std::numeric_limits<float>::quiet_NaN(),
            std::numeric_limits<float>::infinity(),
            -std::numeric_limits<float>::infinity(),
            FLT_MAX,
            -FLT_MAX,
            -1.0f,
            1e-45f};
}

const uint32_t kBlocks[] = {0, 1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 32, 64, 100,
                            128, 255, 256, 257, 511, 512, 1000, 1024, 2048, 4096, 8192};
constexpr std::size_t kNumBlocks = sizeof(kBlocks) / sizeof(kBlocks[0]);

// hostile_values of every control row (the stereo plug-in's included),
// made before any counting starts.
std::vector<std::vector<float>> all_hostile_values()
{
    std::vector<std::vector<float>> v;
    for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row)
        v.push_back(hostile_values(row));
    return v;
}

// Every block size with the defaults, with every port at each of its
// hostile values in turn (block sizes cycling), and with all ports at
// once at each hostile value. Returns the number of runs.
long sweep(Instance& inst, const std::vector<std::vector<float>>& values, bool stereo)
{
    const uint32_t rows = stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
    long runs = 0;
    uint32_t salt = 0;
    auto run = [&](uint32_t n) {
        inst.fill(n, ++salt);
        if (salt % 3 == 0)
            inst.send_position(salt / 3, n);
        inst.run(n);
        ++runs;
    };
    for (uint32_t n : kBlocks)
        run(n);
    std::size_t j = 0;
    for (uint32_t port = 0; port < rows; ++port) {
        for (float v : values[port]) {
            inst.controls()[port] = v;
            run(kBlocks[j++ % kNumBlocks]);
        }
        inst.controls()[port] = morvane_controls[port]._default;
    }
    for (std::size_t k = 0; k < values[0].size(); ++k) {
        for (uint32_t port = 0; port < rows; ++port)
            inst.controls()[port] = values[port][k];
        for (uint32_t n : kBlocks)
            run(n);
    }
    for (uint32_t port = 0; port < rows; ++port)
        inst.controls()[port] = morvane_controls[port]._default;
    return runs;
}

}  // namespace

class BothPlugins : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Plugins, BothPlugins, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Stereo" : "Mono"; });

TEST_P(BothPlugins, RunAllocatesNothingForAnyControlValueBlockSizeOrReconnection)
{
    if (RT_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    const bool stereo = GetParam();
    Instance inst(48000.0, 1, stereo);
    ASSERT_TRUE(inst.ok());
    std::vector<float> spare_in(kMaxBlock, 0.25f), spare_out(kMaxBlock);
    const auto values = all_hostile_values();
    long runs = 0, allocs = 0, frees = 0;
    g_probe.arm(-1);
    runs += sweep(inst, values, stereo);
    // Reconnections from the audio thread: audio ports moved, shared in
    // place, disconnected and reconnected between runs.
    for (uint32_t n : kBlocks) {
        inst.connect(MORVANE_INPUT_L, spare_in.data());
        inst.run(n);
        inst.connect(MORVANE_OUTPUT_L, spare_in.data());
        inst.run(n);
        inst.connect(MORVANE_OUTPUT_R, nullptr);
        inst.run(n);
        inst.connect(MORVANE_INPUT_L, nullptr);
        inst.run(n);
        inst.connect(MORVANE_INPUT_L, inst.in_l().data());
        inst.connect(MORVANE_OUTPUT_L, inst.out_l().data());
        inst.connect(MORVANE_OUTPUT_R, inst.out_r().data());
        inst.run(n);
        runs += 5;
    }
    allocs = g_probe.allocs;
    frees = g_probe.frees;
    g_probe.disarm();
    EXPECT_EQ(allocs, 0) << "allocations in " << runs << " runs";
    EXPECT_EQ(frees, 0) << "releases in " << runs << " runs";
    // The window's frames and the inline display's snapshots went out
    // while the probe watched.
    EXPECT_GT(inst.runs_with_notify_events(), 0);
    EXPECT_GT(inst.queue_draws(), 0);
    EXPECT_GT(runs, 500);
    std::printf("run: %ld calls, %ld allocations, %ld releases\n", runs, allocs, frees);
    EXPECT_TRUE(inst.finite(kMaxBlock));
}

TEST(RealTime, ProbeSeesAllocationsOfTheLifecycleItself)
{
    // The probe is live: instantiate and cleanup do allocate and release,
    // so the zero of the test above is a measurement, not a blind spot.
    if (RT_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    const LV2_Descriptor* d = LilvTestWorld::get().descriptor();
    ASSERT_NE(d, nullptr);
    g_probe.arm(-1);
    LV2_Handle h = d->instantiate(d, 48000.0, LilvTestWorld::get().bundle_path().c_str(), nullptr);
    const long made = g_probe.allocs;
    d->cleanup(h);
    const long released = g_probe.frees;
    const int live = g_probe.live_count;
    g_probe.disarm();
    ASSERT_NE(h, nullptr);
    EXPECT_GT(made, 10);
    EXPECT_EQ(released, made);
    EXPECT_EQ(live, 0);
}

// In a child process in strict seccomp mode only read, write, _exit and
// sigreturn are allowed; any other system call kills it with SIGKILL.
// fn runs under that mode; the child reports through its exit status.
template <class Fn>
int run_in_strict_mode(Fn fn)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) != 0)
            syscall(SYS_exit, 3);
        const int code = fn();
        syscall(SYS_exit, code);  // exit_group would be refused
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

// The blocks `work` runs (it returns how many of them failed), under the
// allocation probe: none fails, nothing is allocated or freed.
template <typename Work>
void expect_no_allocation(Work work)
{
    g_probe.arm(-1);
    const long failed = work();
    const long allocs = g_probe.allocs, frees = g_probe.frees;
    g_probe.disarm();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(allocs, 0);
    EXPECT_EQ(frees, 0);
}

// The same blocks in seccomp's strict mode: none fails, and no system call
// kills the process.
template <typename Work>
void expect_no_system_call(Work work)
{
    EXPECT_EQ(run_in_strict_mode([&] { return work() == 0 ? 0 : 1; }), 0) << "a system call in process";
}

TEST_P(BothPlugins, RunMakesNoSystemCall)
{
    if (RT_SANITIZED)
        GTEST_SKIP() << "sanitizer runtimes make system calls of their own";
    const bool stereo = GetParam();
    Instance inst(48000.0, 1, stereo);
    ASSERT_TRUE(inst.ok());
    inst.fill(kMaxBlock, 1);
    inst.run(64);  // first-call work of the C library, if any
    const auto values = all_hostile_values();
    const int status = run_in_strict_mode([&inst, &values, stereo] {
        sweep(inst, values, stereo);
        return inst.finite(kMaxBlock) ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << (status == -SIGKILL ? "a system call in run" : "");

    // The check itself works: one system call in the same mode is fatal.
    EXPECT_EQ(run_in_strict_mode([] { return static_cast<int>(syscall(SYS_getpid) & 0); }), -SIGKILL);
}

TEST_P(BothPlugins, InstantiateSurvivesTheFailureOfEachOfItsAllocations)
{
    if (RT_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    const LV2_Descriptor* d =
        GetParam() ? LilvTestWorld::get().stereo_descriptor() : LilvTestWorld::get().descriptor();
    ASSERT_NE(d, nullptr);
    long points = 0;
    for (long k = 0;; ++k) {
        g_probe.arm(k);
        LV2_Handle h = d->instantiate(d, 48000.0, LilvTestWorld::get().bundle_path().c_str(), nullptr);
        const long made = g_probe.allocs;
        const int live = g_probe.live_count;
        g_probe.disarm();
        if (made <= k) {  // every allocation succeeded: the end of the sweep
            ASSERT_NE(h, nullptr);
            EXPECT_GT(live, 0);
            // cleanup gives back every block instantiate took.
            g_probe.fail_at = -1;
            g_probe.armed = true;
            d->cleanup(h);
            const int left = g_probe.live_count;
            g_probe.disarm();
            EXPECT_EQ(left, 0);
            points = k;
            break;
        }
        EXPECT_EQ(h, nullptr) << "allocation " << k << " refused";
        EXPECT_EQ(live, 0) << "blocks leaked when allocation " << k << " was refused";
        if (h)
            d->cleanup(h);
        ASSERT_LT(k, 5000);
    }
    EXPECT_GT(points, 10);
    std::printf("instantiate: %ld allocations, each refused once\n", points);
}

#if defined(MORVANE_CLAP_FILE)
// Every control at each hostile value by an event in the middle of a
// block, the block sizes cycling, transports on the blocks and inside them.
TEST_P(BothPlugins, ClapProcessAllocatesNothingAndMakesNoSystemCall)
{
    if (RT_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator and makes system calls";
    const bool stereo = GetParam();
    ClapInstance clap(stereo ? "org.example.morvane.stereo" : "org.example.morvane.mono");
    ASSERT_TRUE(clap.ok() && clap.activate(48000.0, kMaxBlock, 1));
    std::vector<float> in_l(kMaxBlock), in_r(kMaxBlock), out_l(kMaxBlock), out_r(kMaxBlock);
    for (uint32_t i = 0; i < kMaxBlock; ++i) {
        in_l[i] = static_cast<float>(0.5 * std::sin(0.031 * i));
        in_r[i] = static_cast<float>(0.3 * std::sin(0.017 * i));
    }
    const auto values = all_hostile_values();
    const clap_event_transport_t transports[3] = {clap_transport(2.0, 4.0, 120.0, true),
                                                  clap_transport(60.0, 90.0, 90.0, true),
                                                  clap_transport(60.0, 90.0, 90.0, false)};
    auto sweep = [&] {
        uint32_t k = 0;
        long failed = 0;
        for (uint32_t row = 0; row < (stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS); ++row) {
            for (float v : values[row]) {
                const uint32_t n = kBlocks[k++ % kNumBlocks];
                clap.param(n / 3, morvane_controls[row]._port, v);
                clap.param(n / 2, morvane_controls[(row + 7) % MORVANE_NUM_CONTROLS]._port, v);
                if (k % 3 == 0)
                    clap.transport(n / 2, transports[k % 2]);
                clap.block_transport(k % 4 == 0 ? nullptr : &transports[k % 3]);
                failed += clap.process(in_l.data(), in_r.data(), out_l.data(), out_r.data(), n) !=
                          CLAP_PROCESS_CONTINUE;
            }
        }
        return failed;
    };
    sweep();  // first-call work of the C library, if any
    expect_no_allocation(sweep);
    expect_no_system_call(sweep);
}

// A drag on the Gain knob of the plug-in's 900 x 540 window in `parent`:
// the pointer down at the knob, through `path` (pixels below it, the
// first two at the knob), up; the host's `timer` after each step lets the
// window read the pointer.
template <typename Timer>
void drag_gain(XParent& parent, bool stereo, std::initializer_list<double> path, Timer timer)
{
    morvane_layout l;
    morvane_layout_compute(&l, 900, 540, 1.0, stereo);
    const double x = l._knob_x[MORVANE_GAIN], y = l._knob_y[MORVANE_GAIN];
    int i = 0;
    for (double dy : path) {
        parent.motion(x, y + dy);
        if (i++ == 1)
            parent.button(1, true);
        timer();
    }
    parent.button(1, false);
    timer();
}

// The same with the plug-in's window open (on the X server in DISPLAY: a
// test of its own under Xvfb): process also takes the changes a drag on a
// knob left in the window's queue, tells the host of them, and hands the
// window its frames.
TEST_P(BothPlugins, ClapWindowOpenProcessAllocatesNothingAndMakesNoSystemCall)
{
    if (RT_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator and makes system calls";
    const bool stereo = GetParam();
    XParent parent(900, 540);
    ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
    ClapInstance clap(stereo ? "org.example.morvane.stereo" : "org.example.morvane.mono");
    ASSERT_TRUE(clap.ok() && clap.activate(48000.0, kMaxBlock, 1));
    ASSERT_TRUE(clap.open_window(parent.window()));
    auto drag = [&] {
        drag_gain(parent, stereo, {0.0, 0.0, 8.0, 16.0, 8.0}, [&] { clap.timer(); });
        clap.clear_output();
    };
    std::vector<float> in(kMaxBlock), out_l(kMaxBlock), out_r(kMaxBlock);
    for (uint32_t i = 0; i < kMaxBlock; ++i)
        in[i] = static_cast<float>(0.5 * std::sin(0.031 * i));
    auto blocks = [&] {
        long failed = 0;
        for (std::size_t k = 0; k < 4 * kNumBlocks; ++k)
            failed += clap.process(in.data(), in.data(), out_l.data(), out_r.data(), kBlocks[k % kNumBlocks]) !=
                      CLAP_PROCESS_CONTINUE;
        return failed;
    };
    drag();
    blocks();  // first-call work of the C library, if any
    drag();
    expect_no_allocation(blocks);
    // The drag reached the host in those blocks: begin, values, end.
    ASSERT_GE(clap.output().size(), 3u);
    EXPECT_EQ(clap.output().front().header.type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(clap.output().back().header.type, CLAP_EVENT_PARAM_GESTURE_END);
    drag();
    expect_no_system_call(blocks);
    EXPECT_EQ(x_errors(), 0);
}
#endif

#if defined(MORVANE_VST3_MONO_FILE)
// Every control at each hostile value by a change in the middle of a
// block, and the same number given raw as a normalized value; programs
// chosen, the block sizes cycling, blocks of no samples, process contexts
// playing, stopped or none.
TEST_P(BothPlugins, Vst3ProcessAllocatesNothingAndMakesNoSystemCall)
{
    if (RT_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator and makes system calls";
    const bool stereo = GetParam();
    const uint32_t controls = stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
    Vst3Instance vst3(stereo);
    ASSERT_TRUE(vst3.ok() && vst3.activate(48000.0, kMaxBlock, 1));
    v3_param_info program{};
    ASSERT_EQ(vst3.controller()->get_parameter_info(vst3.controller_self(), static_cast<int32_t>(controls), &program),
              V3_OK);
    std::vector<float> in_l(kMaxBlock), in_r(kMaxBlock), out_l(kMaxBlock), out_r(kMaxBlock);
    for (uint32_t i = 0; i < kMaxBlock; ++i) {
        in_l[i] = static_cast<float>(0.5 * std::sin(0.031 * i));
        in_r[i] = static_cast<float>(0.3 * std::sin(0.017 * i));
    }
    const auto values = all_hostile_values();
    const v3_process_context contexts[3] = {vst3_context(96000, 4.0, 120.0, true),
                                            vst3_context(2880000, 90.0, 90.0, true),
                                            vst3_context(2880000, 90.0, 90.0, false)};
    auto sweep = [&] {
        uint32_t k = 0;
        long failed = 0;
        for (uint32_t row = 0; row < controls; ++row) {
            for (float v : values[row]) {
                const uint32_t port = morvane_controls[row]._port;
                const auto n = static_cast<int32_t>(kBlocks[k++ % kNumBlocks]);
                vst3.param(n / 3, port, vst3.normalized(port, v));
                vst3.param(n / 2, morvane_controls[(row + 7) % MORVANE_NUM_CONTROLS]._port, v);
                if (k % 5 == 0)
                    vst3.param(n / 4, program.param_id, (k % 11) / 10.0);
                vst3.context(k % 4 == 0 ? nullptr : &contexts[k % 3]);
                failed += vst3.process(in_l.data(), in_r.data(), out_l.data(), out_r.data(), k % 9 == 0 ? 0 : n) !=
                          V3_OK;
            }
        }
        return failed;
    };
    sweep();  // first-call work of the C library, if any
    expect_no_allocation(sweep);
    expect_no_system_call(sweep);
}
#endif

#if defined(MORVANE_CLAP_FILE)
// The CLAP window's frames from the audio thread to the main thread: each
// frame the main thread takes is whole (one writer's numbers throughout)
// and stays so while it holds it, is newer than the one before, and the
// last one written is the last taken.
TEST(Threads, WindowFramesArriveWholeAndNewestFirst)
{
    auto* m = new frame_mailbox();
    frame_mailbox_init(m, LilvTestWorld::get().urids().map());
    const LV2_URID kInt = LilvTestWorld::get().urids().id(LV2_ATOM__Int);
    constexpr int kFrames = 20000, kInts = 200;
    frame_mailbox_set_open(m, true);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        alignas(8) uint8_t control[256];
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, LilvTestWorld::get().urids().map());
        lv2_atom_forge_set_buffer(&forge, control, sizeof control);
        frame_mailbox_forge_message(m, &forge);  // the instance hears the window open
        for (int32_t k = 1; k <= kFrames; ++k) {
            LV2_Atom_Sequence* seq = frame_mailbox_notify(m);
            auto* ev = reinterpret_cast<LV2_Atom_Event*>(seq + 1);
            ev->time.frames = 0;
            ev->body = LV2_Atom{kInts * sizeof(int32_t), kInt};
            std::fill_n(reinterpret_cast<int32_t*>(ev + 1), kInts, k);
            seq->atom.size = sizeof(LV2_Atom_Sequence_Body) + sizeof(LV2_Atom_Event) + kInts * sizeof(int32_t);
            frame_mailbox_after_run(m);
        }
        done.store(true);
    });
    int32_t last = 0;
    long torn = 0, backwards = 0;
    for (bool finished = false; !finished;) {
        finished = done.load();  // one more take after the writer is done
        if (const LV2_Atom_Sequence* seq = frame_mailbox_take(m)) {
            const auto* values = reinterpret_cast<const int32_t*>(reinterpret_cast<const LV2_Atom_Event*>(seq + 1) + 1);
            const int32_t k = values[0];
            // Whole, and left alone by the writer while held.
            torn += std::count(values, values + kInts, k) != kInts;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            torn += std::count(values, values + kInts, k) != kInts;
            backwards += k <= last;
            last = k;
        }
    }
    audio.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(last, kFrames);
    delete m;
}
#endif

#if defined(MORVANE_VST3_MONO_FILE) && defined(MORVANE_CLAP_FILE)
// The VST3 shell with its window open (on the X server in DISPLAY: a test
// of its own under Xvfb) and no component handler, so that a drag on a
// knob waits in the window's queue: process takes it, and hands the window
// its frames.
TEST_P(BothPlugins, Vst3WindowOpenProcessAllocatesNothingAndMakesNoSystemCall)
{
    if (RT_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator and makes system calls";
    const bool stereo = GetParam();
    XParent parent(900, 540);
    ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
    Vst3Instance vst3(stereo);
    ASSERT_TRUE(vst3.ok() && vst3.activate(48000.0, kMaxBlock, 1));
    vst3.drop_handler();
    ASSERT_TRUE(vst3.open_window(parent.window()));
    auto drag = [&](double to) { drag_gain(parent, stereo, {0.0, 0.0, to / 2, to}, [&] { vst3.timer(); }); };
    std::vector<float> in(kMaxBlock), out_l(kMaxBlock), out_r(kMaxBlock);
    for (uint32_t i = 0; i < kMaxBlock; ++i)
        in[i] = static_cast<float>(0.5 * std::sin(0.031 * i));
    auto blocks = [&] {
        long failed = 0;
        for (std::size_t k = 0; k < 4 * kNumBlocks; ++k)
            failed += vst3.process(in.data(), in.data(), out_l.data(), out_r.data(),
                                   static_cast<int32_t>(kBlocks[k % kNumBlocks])) != V3_OK;
        return failed;
    };
    drag(-16.0);
    blocks();  // first-call work of the C library, if any
    const double before = vst3.value(MORVANE_GAIN);
    drag(16.0);
    expect_no_allocation(blocks);
    EXPECT_LT(vst3.value(MORVANE_GAIN), before) << "the drag did not reach the plug-in";
    drag(-16.0);
    expect_no_system_call(blocks);
    EXPECT_EQ(x_errors(), 0);
}
#endif

TEST(Threads, EightInstancesOnEightThreadsMatchTheirSoloRuns)
{
    constexpr int kThreads = 8;
    constexpr uint32_t kBlock = 512;
    constexpr int kRuns = 60;
    const double rates[kThreads] = {44100, 48000, 88200, 96000, 22050, 48000, 192000, 32000};
    // Reference: each instance alone, one after the other.
    std::vector<std::vector<float>> solo(kThreads), parallel(kThreads);
    auto drive = [&](Instance& inst, int t, std::vector<float>& out) {
        inst.controls()[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 10.0f * t;
        inst.controls()[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 50.0f;
        inst.controls()[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 80.0f;
        for (int r = 0; r < kRuns; ++r) {
            inst.fill(kBlock, static_cast<uint32_t>(r * kBlock + t));
            inst.run(kBlock);
            out.insert(out.end(), inst.out_l().begin(), inst.out_l().begin() + kBlock);
        }
    };
    for (int t = 0; t < kThreads; ++t) {
        Instance inst(rates[t], 100u + t);
        ASSERT_TRUE(inst.ok());
        drive(inst, t, solo[t]);
    }
    // The same instances made one after the other (rand() is shared) and
    // then run all at once.
    std::vector<std::unique_ptr<Instance>> insts;
    for (int t = 0; t < kThreads; ++t) {
        insts.push_back(std::make_unique<Instance>(rates[t], 100u + t));
        ASSERT_TRUE(insts.back()->ok());
    }
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads) {
            }
            drive(*insts[t], t, parallel[t]);
        });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(parallel[t].size(), solo[t].size());
        EXPECT_EQ(std::memcmp(parallel[t].data(), solo[t].data(), solo[t].size() * sizeof(float)), 0)
            << "instance " << t;
        for (float v : parallel[t])
            ASSERT_TRUE(std::isfinite(v));
    }
}

TEST(Threads, InstantiateAndCleanupOnSeveralThreadsAtOnce)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::atomic<int> failures{0}, made{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const LV2_Descriptor* d = LilvTestWorld::get().descriptor();
            float controls[MORVANE_NUM_CONTROLS];
            for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i)
                controls[i] = morvane_controls[i]._default;
            std::vector<float> in(256), out(256);
            for (std::size_t i = 0; i < in.size(); ++i)
                in[i] = static_cast<float>(std::sin(0.1 * static_cast<double>(i + t)));
            for (int r = 0; r < kRounds; ++r) {
                LV2_Handle h = d->instantiate(d, 44100.0 + 1000.0 * t, LilvTestWorld::get().bundle_path().c_str(), nullptr);
                if (!h) {
                    ++failures;
                    continue;
                }
                ++made;
                for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i)
                    d->connect_port(h, morvane_controls[i]._port, &controls[i]);
                d->connect_port(h, MORVANE_INPUT_L, in.data());
                d->connect_port(h, MORVANE_OUTPUT_L, out.data());
                d->activate(h);
                d->run(h, 256);
                d->deactivate(h);
                d->cleanup(h);
                for (float v : out)
                    if (!std::isfinite(v))
                        ++failures;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(made.load(), kThreads * kRounds);
}

// 32-bit FNV-1a of the snapshot's values (every field before its number).
uint32_t snapshot_checksum(const morvane_frame& f)
{
    uint32_t h = 2166136261u;
    const auto* b = reinterpret_cast<const uint8_t*>(&f);
    for (std::size_t i = 0; i < offsetof(morvane_frame, _sequence); ++i)
        h = (h ^ b[i]) * 16777619u;
    return h;
}

// The host's GUI thread asks for inline pictures while run plays on the
// audio thread: the snapshot changes hands without a lock, every picture
// is drawn from one whole snapshot (its values still sum to the checksum
// run gave them, and the snapshots come in the order run made them), and
// run's output is the same as without anyone watching.
TEST(Threads, InlineDisplayRendersWhileRunPlays)
{
    Instance watched(48000.0, 3);
    Instance alone(48000.0, 3);
    ASSERT_TRUE(watched.ok());
    ASSERT_TRUE(alone.ok());
    const auto* iface = static_cast<const morvane_inline_interface*>(
        watched.descriptor()->extension_data(MORVANE_INLINEDISPLAY__interface));
    ASSERT_NE(iface, nullptr);
    for (Instance* inst : {&watched, &alone}) {
        inst->controls()[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 100.0f;
        inst->controls()[MORVANE_LFO_SHAKE_FREQ_FREQ] = 7.0f;
    }
    std::atomic<bool> done{false};
    std::atomic<int> pictures{0}, lit_pictures{0}, whole_pictures{0}, snapshots_seen{0};
    std::thread gui([&] {
        uint32_t last_sequence = 0;
        while (!done.load()) {
            const morvane_inline_surface* s = iface->render(watched.handle(), 160, 200);
            if (s != nullptr) {
                EXPECT_EQ(s->width, 160);
                EXPECT_LE(s->height, 200);
                EXPECT_GE(s->stride, s->width * 4);
                // Something besides the background: the partials.
                const auto* px = reinterpret_cast<const uint32_t*>(s->data);
                uint32_t first = px[0];
                bool lit = false;
                for (int y = 0; y < s->height && !lit; ++y)
                    for (int x = 0; x < s->width; ++x)
                        if (px[y * (s->stride / 4) + x] != first) {
                            lit = true;
                            break;
                        }
                ++pictures;
                if (lit)
                    ++lit_pictures;
                const morvane_frame* drawn = morvane_inline_snapshot(watched.handle());
                if (drawn != nullptr && snapshot_checksum(*drawn) == drawn->_checksum &&
                    drawn->_sequence >= last_sequence) {
                    ++whole_pictures;
                    snapshots_seen += drawn->_sequence > last_sequence ? 1 : 0;
                    last_sequence = drawn->_sequence;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::vector<float> a, b;
    for (uint32_t block = 0; block < 400; ++block) {
        for (Instance* inst : {&watched, &alone}) {
            for (uint32_t i = 0; i < 256; ++i)
                inst->in_l()[i] = static_cast<float>(0.4 * std::sin(0.1309 * (block * 256 + i)));
            inst->run(256);
        }
        a.insert(a.end(), watched.out_l().begin(), watched.out_l().begin() + 256);
        b.insert(b.end(), alone.out_l().begin(), alone.out_l().begin() + 256);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    done = true;
    gui.join();
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
    EXPECT_GT(pictures.load(), 0);
    EXPECT_EQ(lit_pictures.load(), pictures.load());
    EXPECT_EQ(whole_pictures.load(), pictures.load());
    EXPECT_GE(snapshots_seen.load(), 5);
    // About two seconds of audio: a few redraws a second were asked for.
    EXPECT_GE(watched.queue_draws(), 10);
    EXPECT_LE(watched.queue_draws(), 20);
}

// In silence the picture stops changing, and so do the requests to redraw.
TEST(Threads, InlineDisplayAsksForNoRedrawWhileNothingChanges)
{
    Instance inst(48000.0, 4);
    ASSERT_TRUE(inst.ok());
    std::fill(inst.in_l().begin(), inst.in_l().end(), 0.0f);
    for (int i = 0; i < 400; ++i)
        inst.run(256);
    const int settled = inst.queue_draws();
    for (int i = 0; i < 400; ++i)
        inst.run(256);
    EXPECT_EQ(inst.queue_draws(), settled);
}
