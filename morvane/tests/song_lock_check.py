# SPDX-License-Identifier: LGPL-2.1-or-later
"""Checks that the plug-in's amplitude LFO keeps time with a host's song, on
the level envelope of a steady tone the plug-in shook.

    song_lock_check.py identical A.wav B.wav
        The two files hold the same samples, bit for bit.

    song_lock_check.py late --full FULL.wav --late LATE.wav --start S \
        --cycle-seconds P [--max-offset-ms M] [--report-only]
        LATE is an export that starts at song sample S, FULL one from the
        song's start. LATE's envelope must lie on FULL's from sample S on
        within M ms, measured by the phase of the envelopes' LFO component
        (period P seconds); the measure must move by -10 ms
        within 1 ms when FULL is read 10 ms early.
        Both envelopes must swing by the LFO at period P within 1 %.
        --report-only prints the offset without holding it to M (for an
        LFO in Free, whose offset is whatever the host made it).

    song_lock_check.py jack --rec REC.npz --render RENDER.wav --bpm B \
        --cycle-quarters Q [--max-period-error 0.01] [--max-phase-ms M]
        REC comes from jack_transport_rec.py: audio and, per process cycle,
        the transport's frame and state. In each stretch where the
        transport rolled, the envelope's period must be Q quarter notes at
        B bpm within the period error (measured on the recording's own
        sample count), and its phase must be the song's: the envelope's LFO
        component, demodulated by the song's phase at each sample
        (quarter notes = frame x B / 60 / rate), lies within M ms of where
        it lies in RENDER, morvane-render's render of the same tone as a
        song at B bpm from its first sample (the plug-in's own delay
        between its input and its envelope is in both). The beat the
        timebase master published in each cycle must lie within 1 ms of its
        frame's (--max-master-ms): a stretch where it does not is passed
        over, and a run with no other stretch (at least --min-stretches,
        1, each after a locate) cannot be held to the song: exit status 3.

Envelope: the RMS level over a centred window of 200 samples (a whole
number of the 240 Hz test tone's periods, so the tone's own ripple cancels;
the window delays nothing). Exits non-zero with a message per fault.
"""
import argparse
import math
import sys

import numpy as np
import soundfile as sf

RATE = 48000
WINDOW = 200
UNMEASURABLE = 3  # exit status of a jack run whose timebase master lost its step
faults = []


def fault(message):
    faults.append(message)
    print("FAIL: " + message, file=sys.stderr)


def envelope(x):
    power = np.convolve(np.square(x.astype(np.float64)), np.ones(WINDOW) / WINDOW, mode="same")
    return np.sqrt(np.maximum(power, 0.0))


def lfo_component(env, phase_turns):
    """The envelope's component at the LFO: its complex amplitude relative to
    a cosine whose phase (in turns) at each sample is phase_turns; the mean
    is taken out first. Angle 0: the envelope peaks where the phase is 0."""
    centred = env - np.mean(env)
    return 2.0 * np.mean(centred * np.exp(-2j * np.pi * phase_turns))


def period_from_slope(env, period_samples, piece_samples):
    """The envelope's period in samples, from how the phase of its LFO
    component (demodulated at the nominal period) moves from piece to
    piece: a linear fit of the unwrapped phase over the pieces' centres."""
    n = np.arange(len(env))
    pieces = len(env) // piece_samples
    if pieces < 3:
        raise SystemExit(f"{len(env)} samples: too short to measure the period")
    centres, angles = [], []
    for k in range(pieces):
        s = slice(k * piece_samples, (k + 1) * piece_samples)
        c = lfo_component(env[s], n[s] / period_samples)
        centres.append(k * piece_samples + piece_samples / 2)
        angles.append(np.angle(c))
    angles = np.unwrap(angles)
    slope = np.polyfit(centres, angles, 1)[0]  # radians per sample of drift
    # The envelope's phase runs at 2 pi / true period; the reference at
    # 2 pi / nominal; the drift is their difference.
    return 1.0 / (1.0 / period_samples + slope / (2 * np.pi))


def read_mono(path):
    x, rate = sf.read(path, dtype="float32", always_2d=True)
    if rate != RATE:
        fault(f"{path}: {rate} Hz, expected {RATE}")
    if not np.all(np.isfinite(x)):
        fault(f"{path}: non-finite samples")
    return x[:, 0]


def modulation(env):
    """Peak-to-peak swing of the envelope, relative to its mean, over the
    middle 80 % of its samples sorted (robust to a few outliers)."""
    lo, hi = np.percentile(env, [10, 90])
    return (hi - lo) / max(float(np.mean(env)), 1e-12)


def check_identical(args):
    a, rate_a = sf.read(args.a, dtype="float32", always_2d=True)
    b, rate_b = sf.read(args.b, dtype="float32", always_2d=True)
    print(f"{args.a}: {a.shape[0]} frames x {a.shape[1]}; {args.b}: {b.shape[0]} frames x {b.shape[1]}")
    if a.shape != b.shape or rate_a != rate_b:
        fault(f"the exports differ in shape or rate: {a.shape} at {rate_a} Hz, {b.shape} at {rate_b} Hz")
        return
    differing = int(np.count_nonzero(a.view(np.uint32) != b.view(np.uint32)))
    if differing:
        where = np.nonzero(np.any(a.view(np.uint32) != b.view(np.uint32), axis=1))[0]
        fault(f"{differing} samples differ, the first at frame {where[0]}, "
              f"largest difference {float(np.max(np.abs(a - b))):.3g}")
    else:
        print("the exports are bit-identical")
    if float(np.max(np.abs(a))) < 1e-3:
        fault("the exports are silent")


def check_late(args):
    full = read_mono(args.full)
    late = read_mono(args.late)
    period = args.cycle_seconds * RATE
    start = args.start
    # The plug-in needs a moment after the late export's start to take up
    # the tone (its analysis fills); the first 0.5 s are left out, as are
    # the last 0.2 s (the tail, where the region ends).
    skip, tail = RATE // 2, RATE // 5
    if len(late) + start > len(full) + RATE or len(late) < skip + tail + 3 * period:
        fault(f"lengths: full {len(full)}, late {len(late)} from {start}")
        return
    n = min(len(late), len(full) - start) - tail
    env_late = envelope(late)[skip:n]
    env_full = envelope(full)[start + skip:start + n]
    song = np.arange(start + skip, start + n)  # song samples of both pieces

    for name, env in (("full", envelope(full)[skip:len(full) - tail]), ("late", env_late)):
        swing = modulation(env)
        measured = period_from_slope(env, period, int(round(4 * period)))
        error = measured / period - 1.0
        print(f"{name} export: envelope swings {100 * swing:.0f} % of its mean; "
              f"LFO period {1000 * measured / RATE:.2f} ms ({100 * error:+.3f} % from {1000 * period / RATE:.1f} ms)")
        if swing < 0.5:
            fault(f"the {name} export's envelope swings only {100 * swing:.0f} % of its mean: no tremolo")
        if abs(error) > 0.01:
            fault(f"the {name} export's LFO period is {100 * error:+.2f} % off")

    # The phase of each envelope's LFO component against the same song
    # clock; their difference is the offset. (Cross-correlating the
    # envelopes tells less: the plug-in's partials differ in detail between
    # two runs that started at different points, so the envelopes' fine
    # structure differs and the correlation's broad peak wanders by
    # milliseconds; the LFO's own component does not.)
    def offset_ms(env_late, env_full, harmonic=1):
        c_full = lfo_component(env_full, harmonic * song / period)
        c_late = lfo_component(env_late, harmonic * song / period)
        turns = np.angle(c_late / c_full) / (2 * np.pi * harmonic)
        return turns * -args.cycle_seconds * 1000.0  # late's envelope lies this much later

    top = lfo_component(env_full, song / period)
    print(f"full export: the envelope's top lies {-np.angle(top) / (2 * np.pi) * period / RATE * 1000:+.2f} ms "
          "from the song's cycle starts")
    offsets = [offset_ms(env_late, env_full, h) for h in (1, 2, 3)]
    print(f"late export against the full one from sample {start}: the envelope lies "
          f"{offsets[0]:+.3f} ms off by the LFO's phase ({offsets[1]:+.3f} ms by its 2nd harmonic, "
          f"{offsets[2]:+.3f} ms by its 3rd)")
    # The measure must see a slip: against the full export read from 10 ms
    # before the late one's start, the late envelope lies 10 ms early.
    slip = int(0.010 * RATE)
    seen = offset_ms(env_late, envelope(full)[start + skip - slip:start + n - slip])
    print(f"the same against the full export read 10 ms early: {seen:+.3f} ms")
    if abs(seen - offsets[0] + 10.0) > 1.0:
        fault(f"a 10 ms slip moves the measure by {seen - offsets[0]:+.3f} ms: it cannot be trusted")
    if not args.report_only and abs(offsets[0]) > args.max_offset_ms:
        fault(f"the late export's envelope lies {offsets[0]:+.3f} ms off the full one's "
              f"(at most {args.max_offset_ms} ms)")


def song_samples(rec):
    """Per recorded sample: the song frame it was played at, the number of
    the rolling stretch it belongs to (-1 while stopped), and whether it is
    clean: in a cycle that followed on from a rolling cycle before it and
    is followed by one after it (a cycle the dummy backend ran late can
    hold a stale block or be missing from the recording; the cycles around
    such a seam are left out)."""
    frames, states, sizes = rec["frame"], rec["state"], rec["size"]
    total = int(np.sum(sizes))
    song = np.zeros(total)
    stretch = np.full(total, -1)
    clean = np.zeros(total, dtype=bool)
    follows = np.zeros(len(frames), dtype=bool)
    follows[1:] = (states[1:] == 1) & (states[:-1] == 1) & (frames[1:] == frames[:-1] + sizes[:-1])
    number, first = -1, 0
    for k in range(len(frames)):
        n = int(sizes[k])
        if states[k] == 1:
            # A new stretch starts where the transport starts rolling or
            # jumps by more than a second (a locate).
            if k == 0 or states[k - 1] != 1 or abs(int(frames[k]) - int(frames[k - 1]) - n) > RATE:
                number += 1
            song[first:first + n] = frames[k] + np.arange(n)
            stretch[first:first + n] = number
            clean[first:first + n] = follows[k] and k + 1 < len(frames) and follows[k + 1]
        first += n
    return song, stretch, clean


def check_jack(args):
    rec = np.load(args.rec)
    rate = int(rec["rate"])
    audio = rec["audio"]
    if rate != RATE or not np.all(np.isfinite(audio)):
        fault(f"recording at {rate} Hz or with non-finite samples")
        return
    quarters_per_sample = args.bpm / 60.0 / rate
    period = args.cycle_quarters / quarters_per_sample
    cycle_ms = period / rate * 1000.0
    env = envelope(audio)
    song, stretch, clean = song_samples(rec)
    frames, states, sizes = rec["frame"], rec["state"], rec["size"]
    seams = int(np.sum((states[1:] == 1) & (states[:-1] == 1) & (frames[1:] != frames[:-1] + sizes[:-1])))
    print(f"{len(frames)} process cycles, {stretch.max() + 1} rolling stretches, {seams} seams in them "
          f"(a cycle not following on from the last), {100 * np.mean(clean[stretch >= 0]):.1f} % of "
          "the rolling samples clean")

    # Where the plug-in puts the envelope's top against the song's cycle
    # when it renders the tone as a song from its first sample.
    render = read_mono(args.render)[rate // 2:]
    env_render = envelope(render)[:len(render) - WINDOW]
    c = lfo_component(env_render, (rate // 2 + np.arange(len(env_render))) * quarters_per_sample
                      / args.cycle_quarters)
    expected_ms = -np.angle(c) / (2 * np.pi) * cycle_ms
    print(f"morvane-render --bpm {args.bpm:g}: the envelope's top {expected_ms:+.2f} ms from the song's cycle start")

    # The plug-in takes a moment to follow a jump of the song (the position
    # reaches it at the next cycle; the amplitude eases over a few ms): the
    # first 0.1 s of each stretch are left out.
    settle = rate // 10
    measured = 0
    unmeasurable = []
    cycle_of = np.repeat(np.arange(len(rec["size"])), rec["size"])
    song_frame_of_cycle = rec["frame"].astype(np.float64)
    for number in range(stretch.max() + 1):
        inside = np.nonzero(stretch == number)[0]
        t = song[inside]
        use = clean[inside] & (t >= t[0] + settle)
        if t[-1] - t[0] - settle < 3 * period or np.sum(use) < 2 * period:
            print(f"stretch from song frame {t[0]:.0f}: {len(t) / rate:.2f} s, too short to measure")
            continue
        # The song's beat as the timebase master published it must be the
        # frame's: a master that missed cycles (without real-time
        # scheduling on a loaded machine) lets its beat fall behind, and the
        # plug-in rightly follows whatever beat the host then sends.
        published = rec["beats"][cycle_of[inside][use]]
        by_frame = song_frame_of_cycle[cycle_of[inside][use]] * quarters_per_sample
        if np.any(np.isnan(published)):
            fault("the timebase master published no bar and beat while rolling")
            continue
        apart_ms = float(np.max(np.abs(published - by_frame))) / quarters_per_sample / rate * 1000.0
        print(f"stretch from song frame {t[0]:.0f}: the master's beat lies at most {apart_ms:.2f} ms "
              "from its frame's")
        if apart_ms > args.max_master_ms:
            unmeasurable.append(apart_ms)
            continue
        measured += 1
        e, t = env[inside][use], t[use]
        swing = modulation(e)
        # The period: how the phase of the LFO component, demodulated at the
        # nominal period, drifts along the song, piece by piece of two cycles.
        piece = 2 * period
        centres, angles = [], []
        k = t[0]
        while k + piece <= t[-1]:
            sel = (t >= k) & (t < k + piece)
            if np.sum(sel) > piece / 2:
                centres.append(np.mean(t[sel]))
                angles.append(np.angle(lfo_component(e[sel], t[sel] / period)))
            k += piece
        error = float("nan")
        if len(centres) >= 2:
            slope = np.polyfit(centres, np.unwrap(angles), 1)[0]
            error = (1.0 / (1.0 / period + slope / (2 * np.pi))) / period - 1.0
        offset_ms = -np.angle(lfo_component(e, t * quarters_per_sample / args.cycle_quarters)) / (2 * np.pi) * cycle_ms
        # The difference of two angles, taken the short way round the cycle.
        miss = (offset_ms - expected_ms + cycle_ms / 2) % cycle_ms - cycle_ms / 2
        print(f"stretch from song frame {t[0]:.0f} ({t[0] * quarters_per_sample:.4f} quarter notes), "
              f"{len(t) / rate:.2f} s measured: envelope swings {100 * swing:.0f} %; period "
              f"{100 * error:+.3f} % from {cycle_ms:.1f} ms; envelope's top {offset_ms:+.2f} ms from "
              f"the song's cycle start, {miss:+.2f} ms from the render's")
        if swing < 0.5:
            fault(f"the envelope swings only {100 * swing:.0f} % of its mean: no tremolo")
        if not abs(error) <= args.max_period_error:
            fault(f"period {100 * error:+.2f} % off the tempo's (at most {100 * args.max_period_error} %)")
        if abs(miss) > args.max_phase_ms:
            fault(f"the envelope's top lies {miss:+.2f} ms from where the render puts it "
                  f"(at most {args.max_phase_ms} ms)")
    # A stretch in which the master's own beat left its frame is passed
    # over; a run with no other stretch cannot be held to the song.
    if unmeasurable and measured == 0 and not faults:
        print(f"the timebase master's beat left its frame by up to {max(unmeasurable):.2f} ms "
              f"(at most {args.max_master_ms} ms): this run cannot be held to the song")
        sys.exit(UNMEASURABLE)
    if unmeasurable:
        print(f"{len(unmeasurable)} stretch(es) passed over: the timebase master's beat left its frame")
    if measured < args.min_stretches:
        fault(f"{measured} rolling stretches long enough to measure, expected {args.min_stretches}")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="what", required=True)
    identical = sub.add_parser("identical")
    identical.add_argument("a")
    identical.add_argument("b")
    late = sub.add_parser("late")
    late.add_argument("--full", required=True)
    late.add_argument("--late", required=True)
    late.add_argument("--start", type=int, required=True)
    late.add_argument("--cycle-seconds", type=float, required=True)
    late.add_argument("--max-offset-ms", type=float, default=1.0)
    late.add_argument("--report-only", action="store_true")
    jack = sub.add_parser("jack")
    jack.add_argument("--rec", required=True)
    jack.add_argument("--render", required=True)
    jack.add_argument("--bpm", type=float, required=True)
    jack.add_argument("--cycle-quarters", type=float, required=True)
    jack.add_argument("--max-period-error", type=float, default=0.01)
    jack.add_argument("--max-phase-ms", type=float, default=5.0)
    jack.add_argument("--min-stretches", type=int, default=1)
    jack.add_argument("--max-master-ms", type=float, default=1.0)
    args = parser.parse_args()
    {"identical": check_identical, "late": check_late, "jack": check_jack}[args.what](args)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
