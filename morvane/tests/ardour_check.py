# SPDX-License-Identifier: LGPL-2.1-or-later
"""Checks what Ardour made of the plug-in against the bundle's Turtle and
morvane-render.

    ardour_check.py plugin --turtle PLUGIN.nt --presets PRESETS.nt \
        --log CONFIGURE.log --session NAME.ardour --uri URI --preset LABEL \
        --frames N
        The control parameters Ardour reports (label, range, default) are
        the Turtle's control ports in port order, 31 of them; Ardour lists
        exactly the bundle's presets, and loading each one sets every
        control to its value; PRESET, loaded last, holds in the plug-in and
        in the saved session;
        the track holds one region of N frames from 0, the session range
        spans it, the session runs at 48 kHz, the plug-in takes the mono
        track's one channel to two and the track's two outputs feed the
        master bus's two inputs.

    ardour_check.py audio --input IN.wav --export EXPORT.wav \
        --render RENDER.wav --plain PLAIN.wav --max-level-db D --max-band-db B
        The export is 32-bit float, finite, as long as the input, not
        silent, carries the same signal on both master channels, and its
        level is within D dB of the render's: the RMS level over the whole
        file, and the level of every octave band from 63 Hz to 16 kHz that
        holds power within 30 dB of the render's strongest band, within B
        dB. The plug-in draws random phase offsets per instance, so the two
        can match in level and spectrum, not sample by sample. PLAIN, the
        plain resynthesis of the input, must fail these bounds, or they
        could not tell whether the preset reached the sound.

    ardour_check.py channels --input IN.wav --export EXPORT.wav \
        --render RENDER.wav --max-level-db D (--equal | --differ)
        The stereo plug-in's export: 32-bit float, finite, as long as the
        input, two channels, neither silent, not the dry input, each within
        D dB of the level of the same channel of RENDER (morvane-render
        --stereo of the same two channels: a channel the track did not feed
        the plug-in would halve the mid signal); with --equal the two
        channels are the same (within 1e-6, as the master bus passes them),
        with --differ they are not: the level of their difference lies
        within 20 dB of the level of their sum.

Exits non-zero with a message per fault.
"""
import argparse
import math
import os
import sys
import xml.etree.ElementTree as ET
from collections import defaultdict

import numpy as np
import soundfile as sf

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_ports import parse  # noqa: E402  (the N-Triples reader)

LV2 = "http://lv2plug.in/ns/lv2core#"
PSET = "http://lv2plug.in/ns/ext/presets#"
RDF_TYPE = "http://www.w3.org/1999/02/22-rdf-syntax-ns#type"
RDFS_LABEL = "http://www.w3.org/2000/01/rdf-schema#label"

CONTROLS = 31
PRESETS = 9
RATE = 48000

faults = []


def fault(message):
    faults.append(message)
    print("FAIL: " + message, file=sys.stderr)


def graph_of(*paths):
    """Subject -> predicate -> objects of all files; blank nodes kept apart
    per file, since each sordi run numbers them from the start."""
    graph = defaultdict(lambda: defaultdict(list))
    for n, path in enumerate(paths):
        def node(term):
            return f"{term}/{n}" if isinstance(term, str) and term.startswith("_:") else term
        for s, p, o in parse(path):
            graph[node(s)][p].append(node(o))
    return graph


def literal(graph, subject, predicate):
    values = graph[subject][predicate]
    if len(values) != 1 or not isinstance(values[0], tuple):
        raise SystemExit(f"{subject}: {len(values)} values of {predicate}")
    return values[0][1]


def close(a, b):
    # Ardour keeps ranges and values as single-precision floats.
    return math.isclose(a, b, rel_tol=1e-6, abs_tol=1e-6)


def report_lines(path):
    """The tab-separated lines the Lua phase printed, by their first field."""
    lines = defaultdict(list)
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "morvane-daw" and len(fields) > 1:
                lines[fields[1]].append(fields[2:])
    return lines


def check_plugin(args):
    graph = graph_of(args.turtle, args.presets)
    ports = {}
    for port in graph[args.uri][LV2 + "port"]:
        if LV2 + "ControlPort" in graph[port][RDF_TYPE] and LV2 + "InputPort" in graph[port][RDF_TYPE]:
            ports[int(literal(graph, port, LV2 + "index"))] = port
    # Ardour numbers the control inputs in port order.
    controls = [ports[i] for i in sorted(ports)]
    if len(controls) != CONTROLS:
        fault(f"the Turtle declares {len(controls)} control inputs, expected {CONTROLS}")

    log = report_lines(args.log)
    if log["done"] != [["configure"]]:
        fault("the configure phase did not finish")
    if log["rate"] != [[str(RATE)]]:
        fault(f"session rate {log['rate']}, expected {RATE}")
    if log["regions"] != [["1"]] or len(log["region"]) != 1:
        fault(f"the track holds {log['regions']} regions, expected 1")
    else:
        _, position, length = log["region"][0]
        if (int(position), int(length)) != (0, args.frames):
            fault(f"region at {position}, {length} frames; expected 0, {args.frames}")
    if log["session-range"] != [["0", str(args.frames)]]:
        fault(f"session range {log['session-range']}, expected 0 .. {args.frames}")
    if log["connection"] != [["0", "0"], ["1", "1"]]:
        fault(f"the track's outputs feed the master inputs {log['connection']}, expected 0-0 and 1-1")
    if not log["plugin"] or log["plugin"][0][0] != args.uri:
        fault(f"Ardour inserted {log['plugin']}, not {args.uri}")
    # A mono track: the plug-in's left input takes its one channel, and
    # both outputs go on to the track's two outputs.
    if log["streams"] != [["1", "2", "2"]]:
        fault(f"insert inputs, outputs and track outputs {log['streams']}, expected 1, 2, 2")

    seen = log["control"]
    if len(seen) != CONTROLS:
        fault(f"Ardour sees {len(seen)} control parameters, expected {CONTROLS}")
    for (n, label, lower, upper, normal, _), port in zip(seen, controls):
        symbol = literal(graph, port, LV2 + "symbol")
        name = literal(graph, port, LV2 + "name")
        if label != name:
            fault(f"control {n} ({symbol}): Ardour's label '{label}', the Turtle's name '{name}'")
        for what, got, key in (("minimum", lower, "minimum"), ("maximum", upper, "maximum"),
                               ("default", normal, "default")):
            want = float(literal(graph, port, LV2 + key))
            if not close(float(got), want):
                fault(f"control {n} ({symbol}): Ardour's {what} {got}, the Turtle's {want}")
    print(f"{len(seen)} controls: labels, ranges and defaults as in the Turtle")

    presets = {s: literal(graph, s, RDFS_LABEL) for s, props in graph.items()
               if PSET + "Preset" in props[RDF_TYPE] and args.uri in props[LV2 + "appliesTo"]}
    if len(presets) != PRESETS:
        fault(f"the bundle declares {len(presets)} presets, expected {PRESETS}")
    listed = {uri: label for uri, label in log["preset"]}
    if listed != presets or len(log["preset"]) != len(presets):
        fault(f"Ardour lists the presets {sorted(listed.items())}, "
              f"the bundle declares {sorted(presets.items())}")
    print(f"{len(listed)} presets listed: {', '.join(sorted(listed.values()))}")

    symbols = [literal(graph, port, LV2 + "symbol") for port in controls]

    def preset_values(uri):
        return {literal(graph, p, LV2 + "symbol"): float(literal(graph, p, PSET + "value"))
                for p in graph[uri][LV2 + "port"]}

    def compare_values(what, got, values):
        """got: (control number, value) pairs as Ardour read them back."""
        if set(values) != set(symbols):
            fault(f"{what}: the preset sets {sorted(values)}, not every control")
        if len(got) != CONTROLS:
            fault(f"{what}: {len(got)} control values read back, expected {CONTROLS}")
        for n, value in got:
            symbol = symbols[int(n)]
            if symbol in values and not close(float(value), values[symbol]):
                fault(f"{what}: {symbol} = {value}, the preset sets {values[symbol]}")

    for uri in presets:
        got = [(n, value) for p, n, value in log["preset-value"] if p == uri]
        compare_values(f"after loading {uri}", got, preset_values(uri))
    print("every preset loaded in turn: the controls took each preset's values")

    wanted = [uri for uri, label in presets.items() if label == args.preset]
    if len(wanted) != 1:
        raise SystemExit(f"no preset labelled '{args.preset}' in the bundle")
    if log["loaded"] != [[wanted[0], args.preset]]:
        fault(f"Ardour's last preset {log['loaded']}, expected {wanted[0]}")
    values = preset_values(wanted[0])
    compare_values(f"after loading '{args.preset}' last",
                   [(n, value) for n, _, value in log["value"]], values)

    # What the export process will load: the plug-in's port values as saved.
    session = ET.parse(args.session).getroot()
    inserts = [p for p in session.iter("Processor")
               if p.get("type") == "lv2" and p.get("unique-id") == args.uri]
    if len(inserts) != 1:
        fault(f"the saved session holds {len(inserts)} inserts of the plug-in")
    else:
        saved = {p.get("symbol"): float(p.get("value")) for p in inserts[0].iter("Port")}
        for symbol, value in values.items():
            if symbol not in saved or not close(saved[symbol], value):
                fault(f"saved session: {symbol} = {saved.get(symbol)}, the preset sets {value}")
    print(f"preset '{args.preset}' loaded: every control at the preset's value, "
          "in the plug-in and in the saved session")


def level_db(x):
    return 10.0 * math.log10(max(float(np.mean(np.square(x, dtype=np.float64))), 1e-30))


def octave_levels(x):
    """Level in dB of each octave band 63 Hz .. 16 kHz (centre frequencies),
    from the power spectrum of the whole file."""
    spectrum = np.abs(np.fft.rfft(x.astype(np.float64))) ** 2 / len(x) ** 2
    freqs = np.fft.rfftfreq(len(x), 1.0 / RATE)
    bands = {}
    for k in range(9):
        centre = 62.5 * 2 ** k
        inside = (freqs >= centre / math.sqrt(2)) & (freqs < centre * math.sqrt(2))
        bands[centre] = 10.0 * math.log10(max(float(np.sum(spectrum[inside])) * 2, 1e-30))
    return bands


def check_audio(args):
    dry, dry_rate = sf.read(args.input, dtype="float32", always_2d=True)
    info = sf.info(args.export)
    out, rate = sf.read(args.export, dtype="float32", always_2d=True)
    ref, ref_rate = sf.read(args.render, dtype="float32", always_2d=True)
    print(f"export: {out.shape[0]} frames, {out.shape[1]} channels at {rate} Hz, {info.subtype}")
    if info.subtype != "FLOAT":
        fault(f"export sample format {info.subtype}, expected 32-bit float")
    if rate != RATE or dry_rate != RATE or ref_rate != RATE:
        fault(f"rates: input {dry_rate}, export {rate}, render {ref_rate}; expected {RATE}")
    if not np.all(np.isfinite(out)):
        fault("the export holds non-finite samples")
        return
    if out.shape[0] != dry.shape[0] or ref.shape[0] != dry.shape[0]:
        fault(f"lengths: input {dry.shape[0]}, export {out.shape[0]}, render {ref.shape[0]}")
        return
    if out.shape[1] != 2:
        fault(f"the master bus export has {out.shape[1]} channels, expected 2")
        return
    # The plug-in copies its left output to the right one; the stereo
    # panner at its defaults passes both through.
    spread = float(np.max(np.abs(out[:, 0] - out[:, 1])))
    if spread > 1e-6:
        fault(f"the master channels differ by up to {spread}")
    left = out[:, 0]
    level, ref_level, dry_level = level_db(left), level_db(ref[:, 0]), level_db(dry[:, 0])
    print(f"RMS level: export {level:.2f} dB, render {ref_level:.2f} dB, input {dry_level:.2f} dB")
    if level < -60.0:
        fault(f"the export is silent ({level:.1f} dB)")
    if abs(level - ref_level) > args.max_level_db:
        fault(f"export and render levels differ by {abs(level - ref_level):.2f} dB "
              f"(at most {args.max_level_db} dB)")
    # The export must be the effect's output, not the dry track.
    if float(np.max(np.abs(left - dry[:, 0]))) < 1e-3:
        fault("the export is the dry recording")

    bands = compare(left, ref[:, 0])
    worst = 0.0
    for centre, (band, ref_band) in bands.items():
        diff = band - ref_band
        worst = max(worst, abs(diff))
        print(f"  {centre:7.0f} Hz: export {band:7.2f} dB, render {ref_band:7.2f} dB, "
              f"difference {diff:+.2f} dB")
        if abs(diff) > args.max_band_db:
            fault(f"octave band at {centre:.0f} Hz: export and render differ by {diff:+.2f} dB "
                  f"(at most {args.max_band_db} dB)")
    print(f"level difference {level - ref_level:+.2f} dB, largest band difference {worst:.2f} dB")

    # The bounds must tell the preset from the plain resynthesis: the plain
    # render, put where the export was, fails them.
    plain, _ = sf.read(args.plain, dtype="float32", always_2d=True)
    plain_level = level_db(plain[:, 0]) - ref_level
    plain_worst = max(abs(a - b) for a, b in compare(plain[:, 0], ref[:, 0]).values())
    print(f"plain resynthesis against the render: level {plain_level:+.2f} dB, "
          f"largest band difference {plain_worst:.2f} dB")
    if abs(plain_level) <= args.max_level_db and plain_worst <= args.max_band_db:
        fault("the bounds do not tell the preset's render from the plain resynthesis")


def check_channels(args):
    dry, _ = sf.read(args.input, dtype="float32", always_2d=True)
    info = sf.info(args.export)
    out, rate = sf.read(args.export, dtype="float32", always_2d=True)
    print(f"export: {out.shape[0]} frames, {out.shape[1]} channels at {rate} Hz, {info.subtype}")
    if info.subtype != "FLOAT" or rate != RATE:
        fault(f"export {info.subtype} at {rate} Hz, expected 32-bit float at {RATE} Hz")
    if out.shape != (dry.shape[0], 2):
        fault(f"export of {out.shape[0]} frames in {out.shape[1]} channels, expected {dry.shape[0]} in 2")
        return
    if not np.all(np.isfinite(out)):
        fault("the export holds non-finite samples")
        return
    ref, _ = sf.read(args.render, dtype="float32", always_2d=True)
    if ref.shape != out.shape:
        fault(f"the render has {ref.shape}, the export {out.shape}")
        return
    left, right = out[:, 0], out[:, 1]
    for c, (name, channel) in enumerate((("left", left), ("right", right))):
        level, ref_level = level_db(channel), level_db(ref[:, c])
        print(f"{name}: RMS level {level:.2f} dB, render {ref_level:.2f} dB")
        if level < -60.0:
            fault(f"the {name} channel is silent ({level:.1f} dB)")
        if abs(level - ref_level) > args.max_level_db:
            fault(f"the {name} channel lies {level - ref_level:+.2f} dB from the render's "
                  f"(at most {args.max_level_db} dB)")
        if float(np.max(np.abs(channel - dry[:, 0]))) < 1e-3:
            fault(f"the {name} channel is the dry recording")
    spread = float(np.max(np.abs(left - right)))
    side = level_db(left.astype(np.float64) - right) - level_db(left.astype(np.float64) + right)
    print(f"channels differ by up to {spread:.3g}; difference {side:.1f} dB against the sum")
    if args.equal and spread > 1e-6:
        fault(f"the channels differ by up to {spread}, expected the same signal")
    if args.differ and side < -20.0:
        fault(f"the channels' difference lies {-side:.1f} dB below their sum, expected within 20 dB")


def compare(x, ref):
    """Octave band -> (level of x, level of ref), for the bands where ref
    holds power within 30 dB of its strongest band."""
    bands, ref_bands = octave_levels(x), octave_levels(ref)
    floor = max(ref_bands.values()) - 30.0
    return {c: (bands[c], r) for c, r in ref_bands.items() if r >= floor}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="what", required=True)
    plugin = sub.add_parser("plugin")
    for name in ("turtle", "presets", "log", "session", "uri", "preset"):
        plugin.add_argument("--" + name, required=True)
    plugin.add_argument("--frames", type=int, required=True)
    audio = sub.add_parser("audio")
    for name in ("input", "export", "render", "plain"):
        audio.add_argument("--" + name, required=True)
    audio.add_argument("--max-level-db", type=float, required=True)
    audio.add_argument("--max-band-db", type=float, required=True)
    channels = sub.add_parser("channels")
    channels.add_argument("--input", required=True)
    channels.add_argument("--export", required=True)
    channels.add_argument("--render", required=True)
    channels.add_argument("--max-level-db", type=float, required=True)
    same = channels.add_mutually_exclusive_group(required=True)
    same.add_argument("--equal", action="store_true")
    same.add_argument("--differ", action="store_true")
    args = parser.parse_args()
    {"plugin": check_plugin, "audio": check_audio, "channels": check_channels}[args.what](args)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
