# SPDX-License-Identifier: LGPL-2.1-or-later
"""Puts a recording on a track of a saved, closed Ardour 7 session.

Ardour's headless Lua tool has no import call, so this does by hand what an
import does: it copies the sound file into the session's
interchange/FOLDER/audiofiles folder and writes into NAME.ardour a source for
it, a whole-file region, a region on the track's playlist at the session
start, and a session range that spans the region (the range is what an
export renders). The region's fades are off, so the track plays the
recording sample for sample.

    ardour_add_region.py SESSION_DIR NAME TRACK SOUND.wav
"""
import os
import shutil
import sys
import xml.etree.ElementTree as ET

import soundfile as sf

# Ardour 7 keeps audio-time positions in superclock ticks, written "aN".
SUPERCLOCK_RATE = 282240000


def main(session_dir, name, track_name, sound):
    info = sf.info(sound)
    if info.channels != 1:
        raise SystemExit(f"{sound}: {info.channels} channels, a mono file is needed")
    path = os.path.join(session_dir, name + ".ardour")
    tree = ET.parse(path)
    session = tree.getroot()
    rate = int(session.get("sample-rate"))
    if info.samplerate != rate:
        raise SystemExit(f"{sound}: {info.samplerate} Hz in a {rate} Hz session")
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
    file_name = os.path.basename(sound)
    shutil.copyfile(sound, os.path.join(audiofiles, file_name))

    source_id = new_id()
    ET.SubElement(session.find("Sources"), "Source", {
        "name": file_name, "type": "audio", "flags": "", "id": source_id,
        "natural-position": "a0", "channel": "0", "origin": "", "gain": "1"})

    region_name = os.path.splitext(file_name)[0]

    def region(parent, whole_file):
        return ET.SubElement(parent, "Region", {
            "name": region_name if whole_file else region_name + ".1",
            "type": "audio", "id": new_id(),
            "whole-file": "1" if whole_file else "0",
            "automatic": "1" if whole_file else "0",
            "start": "a0", "length": f"{length}@a0", "position": "a0",
            "sync-position": "a0", "scale-amplitude": "1",
            "fade-in-active": "0", "fade-out-active": "0", "envelope-active": "0",
            "muted": "0", "opaque": "1", "layering-index": "0",
            "source-0": source_id, "master-source-0": source_id, "channels": "1"})

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
    print(f"{path}: {file_name}, {info.frames} frames, on {track_name}")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        raise SystemExit(__doc__)
    main(*sys.argv[1:])
