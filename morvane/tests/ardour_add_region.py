# SPDX-License-Identifier: LGPL-2.1-or-later
"""Puts a recording on a track of a saved, closed Ardour 7 session.

Ardour's headless Lua tool has no import call, so this does by hand what an
import does: it copies the sound files into the session's
interchange/FOLDER/audiofiles folder and writes into NAME.ardour a source for
each, a whole-file region, a region on the track's playlist at the session
start, and a session range that spans the region (the range is what an
export renders). The region's fades are off, so the track plays the
recording sample for sample. Each file is mono and one channel of the
region, as Ardour keeps a stereo recording: one file for a mono track, the
left and then the right channel's for a stereo track.

    ardour_add_region.py SESSION_DIR NAME TRACK SOUND.wav [SOUND.wav ...]
"""
import os
import shutil
import sys
import xml.etree.ElementTree as ET

import soundfile as sf

# Ardour 7 keeps audio-time positions in superclock ticks, written "aN".
SUPERCLOCK_RATE = 282240000


def main(session_dir, name, track_name, sounds):
    path = os.path.join(session_dir, name + ".ardour")
    tree = ET.parse(path)
    session = tree.getroot()
    rate = int(session.get("sample-rate"))
    infos = [sf.info(sound) for sound in sounds]
    for sound, info in zip(sounds, infos):
        if info.channels != 1:
            raise SystemExit(f"{sound}: {info.channels} channels, a mono file is needed")
        if info.samplerate != rate:
            raise SystemExit(f"{sound}: {info.samplerate} Hz in a {rate} Hz session")
        if info.frames != infos[0].frames:
            raise SystemExit(f"{sound}: {info.frames} frames, {sounds[0]} {infos[0].frames}")
    info = infos[0]
    ticks_per_sample = SUPERCLOCK_RATE // rate
    length = f"a{info.frames * ticks_per_sample}"

    next_id = int(session.get("id-counter"))

    def new_id():
        nonlocal next_id
        next_id += 1
        return str(next_id)

    routes = [r for r in session.find("Routes") if r.get("name") == track_name]
    if len(routes) != 1:
        raise SystemExit(f"{path}: {len(routes)} routes named {track_name}")
    playlist_id = routes[0].get("audio-playlist")
    playlists = [p for p in session.find("Playlists") if p.get("id") == playlist_id]
    if len(playlists) != 1:
        raise SystemExit(f"{path}: no playlist {playlist_id} for {track_name}")

    # Ardour names the interchange folder after the session's folder.
    interchange = os.path.join(session_dir, "interchange")
    folders = os.listdir(interchange)
    if len(folders) != 1:
        raise SystemExit(f"{interchange}: {len(folders)} folders, expected one")
    audiofiles = os.path.join(interchange, folders[0], "audiofiles")
    source_ids = []
    for sound in sounds:
        file_name = os.path.basename(sound)
        shutil.copyfile(sound, os.path.join(audiofiles, file_name))
        source_ids.append(new_id())
        ET.SubElement(session.find("Sources"), "Source", {
            "name": file_name, "type": "audio", "flags": "", "id": source_ids[-1],
            "natural-position": "a0", "channel": "0", "origin": "", "gain": "1"})

    region_name = os.path.splitext(os.path.basename(sounds[0]))[0]

    def region(parent, whole_file):
        attributes = {
            "name": region_name if whole_file else region_name + ".1",
            "type": "audio", "id": new_id(),
            "whole-file": "1" if whole_file else "0",
            "automatic": "1" if whole_file else "0",
            "start": "a0", "length": f"{length}@a0", "position": "a0",
            "sync-position": "a0", "scale-amplitude": "1",
            "fade-in-active": "0", "fade-out-active": "0", "envelope-active": "0",
            "muted": "0", "opaque": "1", "layering-index": "0",
            "channels": str(len(sounds))}
        for n, source_id in enumerate(source_ids):
            attributes[f"source-{n}"] = source_id
            attributes[f"master-source-{n}"] = source_id
        return ET.SubElement(parent, "Region", attributes)

    region(session.find("Regions"), True)
    region(playlists[0], False)

    locations = session.find("Locations")
    for old in [l for l in locations if "IsSessionRange" in l.get("flags", "")]:
        locations.remove(old)
    ET.SubElement(locations, "Location", {
        "id": new_id(), "name": "session", "start": "a0", "end": length,
        "flags": "IsSessionRange", "locked": "0", "cue": "0"})

    session.set("id-counter", str(next_id + 1))
    tree.write(path, encoding="UTF-8", xml_declaration=True)
    files = ", ".join(os.path.basename(sound) for sound in sounds)
    print(f"{path}: {files}, {info.frames} frames, on {track_name}")


if __name__ == "__main__":
    if len(sys.argv) < 5:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:])
