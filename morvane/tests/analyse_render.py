# SPDX-License-Identifier: LGPL-2.1-or-later
"""Compares a render of the plug-in with its input.

    analyse_render.py INPUT.wav OUTPUT.wav [--partials]
                      [--tremolo HZ --reference PLAIN.wav [--tremolo-phase DEG]]
                      [--channel C]

Checks that the output is finite, not silent (its RMS within 20 dB of the
input's), that its two channels are identical (the mono plug-in writes its
result to both); with --partials, that the strongest partials of the
input's long-term spectrum are among the strongest of the output's; with
--tremolo, that the output's short-time level divided by that of the plain
render PLAIN.wav follows 0.5 + 0.5 cos(2 pi HZ t + DEG), the gain curve of
an amplitude LFO at HZ with its amount at 50 % and its phase DEG degrees
ahead. With --channel (the stereo plug-in, whose outputs differ) channel C
of the output and of PLAIN.wav is analysed, and the channels may differ.
Prints the measurements; exits non-zero with a message per failed check.
"""
import argparse
import sys

import numpy as np
import soundfile as sf

FFT = 4096
HOP = 1024
BAND = (60.0, 8000.0)    # where speech keeps its strongest partials
N_INPUT_PEAKS = 5
N_OUTPUT_PEAKS = 10
TOLERANCE_BINS = 2       # 2 bins of 11.7 Hz at 48 kHz


def long_term_spectrum(x):
    window = np.hanning(FFT)
    frames = [x[i:i + FFT] * window for i in range(0, len(x) - FFT, HOP)]
    return np.mean(np.abs(np.fft.rfft(frames, axis=1)) ** 2, axis=0)


def strongest_peaks(power, rate, count):
    freqs = np.fft.rfftfreq(FFT, 1.0 / rate)
    inside = (freqs >= BAND[0]) & (freqs <= BAND[1])
    local_max = np.zeros_like(inside)
    local_max[1:-1] = (power[1:-1] > power[:-2]) & (power[1:-1] >= power[2:])
    candidates = np.flatnonzero(inside & local_max)
    return candidates[np.argsort(power[candidates])[::-1][:count]], freqs


def rms_db(x):
    return 10.0 * np.log10(np.mean(np.square(x, dtype=np.float64)) + 1e-30)


def short_time_rms(x, frame):
    n = len(x) // frame
    return np.sqrt(np.mean(np.square(x[:n * frame], dtype=np.float64).reshape(n, frame), axis=1))


def tremolo_correlation(y, reference, rate, hz, phase):
    """Correlation of the level ratio y / reference with the LFO's gain curve,
    over 10 ms frames where the reference is within 30 dB of its loudest."""
    frame = int(rate // 100)
    level_y = short_time_rms(y, frame)
    level_ref = short_time_rms(reference, frame)
    loud = level_ref > np.max(level_ref) * 10.0 ** (-30.0 / 20.0)
    times = (np.flatnonzero(loud) + 0.5) * frame / rate
    model = 0.5 + 0.5 * np.cos(2.0 * np.pi * hz * times + np.radians(phase))
    return np.corrcoef(level_y[loud] / level_ref[loud], model)[0, 1]


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--partials", action="store_true")
    parser.add_argument("--tremolo", type=float)
    parser.add_argument("--reference")
    parser.add_argument("--tremolo-phase", type=float, default=0.0)
    parser.add_argument("--channel", type=int)
    args = parser.parse_args(argv)
    channel = args.channel or 0
    check_partials = args.partials
    x, rate_in = sf.read(args.input, dtype="float32", always_2d=True)
    y, rate_out = sf.read(args.output, dtype="float32", always_2d=True)
    faults = []
    if rate_in != rate_out:
        faults.append(f"sample rate {rate_out} differs from the input's {rate_in}")
    if len(y) != len(x):
        faults.append(f"{len(y)} frames out for {len(x)} in")
    x = x[:, 0]
    if y.shape[1] != 2:
        faults.append(f"{y.shape[1]} output channels, expected 2")
    elif args.channel is None and not np.array_equal(y[:, 0], y[:, 1]):
        faults.append("the two output channels differ")
    y = y[:, min(channel, y.shape[1] - 1)]
    if not np.all(np.isfinite(y)):
        faults.append(f"{np.count_nonzero(~np.isfinite(y))} non-finite output samples")
        y = np.nan_to_num(y)
    level_in, level_out = rms_db(x), rms_db(y)
    print(f"RMS in {level_in:.1f} dB, out {level_out:.1f} dB, peak out {np.max(np.abs(y)):.3f}")
    if not level_out > level_in - 20.0:
        faults.append(f"output too quiet: {level_out:.1f} dB against {level_in:.1f} dB in")
    if check_partials:
        peaks_in, freqs = strongest_peaks(long_term_spectrum(x), rate_in, N_INPUT_PEAKS)
        peaks_out, _ = strongest_peaks(long_term_spectrum(y), rate_out, N_OUTPUT_PEAKS)
        found = [p for p in peaks_in if np.min(np.abs(peaks_out - p)) <= TOLERANCE_BINS]
        print("strongest partials in (Hz):  " + " ".join(f"{freqs[p]:.0f}" for p in peaks_in))
        print("strongest partials out (Hz): " + " ".join(f"{freqs[p]:.0f}" for p in peaks_out))
        if len(found) < N_INPUT_PEAKS - 1:
            faults.append(f"only {len(found)} of the input's {N_INPUT_PEAKS} strongest partials "
                          f"are among the output's {N_OUTPUT_PEAKS} strongest")
    if args.tremolo is not None:
        reference, _ = sf.read(args.reference, dtype="float32", always_2d=True)
        corr = tremolo_correlation(y, reference[:, channel], rate_out, args.tremolo, args.tremolo_phase)
        print(f"level ratio against the plain render correlates {corr:.2f} "
              f"with a {args.tremolo:g} Hz tremolo {args.tremolo_phase:g} degrees ahead")
        if not corr > 0.6:
            faults.append(f"no {args.tremolo:g} Hz tremolo (correlation {corr:.2f})")
    for fault in faults:
        print("FAIL: " + fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
