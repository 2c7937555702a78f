# SPDX-License-Identifier: LGPL-2.1-or-later
"""Records one JACK port together with the transport's frame and state at
every process cycle, so that each recorded sample can be placed on the song.
(jack_rec writes the audio only; nothing in its file tells which transport
frame a sample was played at.)

    jack_transport_rec.py OUT.npz SECONDS PORT

Connects its one input to PORT, records SECONDS of cycles and writes
OUT.npz: "audio" (float32, every cycle's samples one after the other),
"frame" (the transport frame of each cycle's first sample), "state"
(the transport state in that cycle: 0 stopped, 1 rolling, 3 starting), "size" (each cycle's length),
"beats" (the beat since the song's start the timebase master published
for the cycle, from its bar, beat and tick; NaN where it
published none) and "rate". The JACK client library is called through ctypes, as no Python
binding of it is a dependency of the project; the process callback only
copies into buffers allocated beforehand.
"""
import ctypes
import gc
import struct
import sys
import threading

import numpy as np

JACK_DEFAULT_AUDIO_TYPE = b"32 bit float mono audio"
JACK_PORT_IS_INPUT = 0x1
JACK_NO_START_SERVER = 0x01
# jack_position_t is packed: unique_1 and usecs (64-bit), frame_rate,
# frame, valid, bar, beat, tick (32-bit), bar_start_tick (double),
# beats_per_bar and beat_type (float), ticks_per_beat (double).
POSITION = struct.Struct("<QQIIIiiidffd")
POSITION_SIZE = 512  # more than the structure's size in any JACK version
POSITION_BBT_VALID = 0x10

PROCESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint32, ctypes.c_void_p)


def main(out, seconds, source):
    jack = ctypes.CDLL("libjack.so.0")
    jack.jack_client_open.restype = ctypes.c_void_p
    jack.jack_client_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p]
    jack.jack_port_register.restype = ctypes.c_void_p
    jack.jack_port_register.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p,
                                        ctypes.c_ulong, ctypes.c_ulong]
    jack.jack_port_get_buffer.restype = ctypes.c_void_p
    jack.jack_port_get_buffer.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
    jack.jack_transport_query.restype = ctypes.c_int
    jack.jack_transport_query.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    jack.jack_set_process_callback.argtypes = [ctypes.c_void_p, PROCESS, ctypes.c_void_p]
    jack.jack_get_sample_rate.argtypes = [ctypes.c_void_p]
    jack.jack_get_buffer_size.argtypes = [ctypes.c_void_p]
    jack.jack_activate.argtypes = [ctypes.c_void_p]
    jack.jack_deactivate.argtypes = [ctypes.c_void_p]
    jack.jack_client_close.argtypes = [ctypes.c_void_p]
    jack.jack_port_name.restype = ctypes.c_char_p
    jack.jack_port_name.argtypes = [ctypes.c_void_p]
    jack.jack_connect.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]

    status = ctypes.c_int(0)
    client = jack.jack_client_open(b"songrec", JACK_NO_START_SERVER, ctypes.byref(status))
    if not client:
        raise SystemExit(f"cannot open a JACK client (status {status.value:#x})")
    port = jack.jack_port_register(client, b"in", JACK_DEFAULT_AUDIO_TYPE, JACK_PORT_IS_INPUT, 0)
    if not port:
        raise SystemExit("cannot register a JACK port")
    rate = jack.jack_get_sample_rate(client)
    block = jack.jack_get_buffer_size(client)
    cycles = int(seconds * rate / block) + 1
    audio = np.zeros(cycles * block, dtype=np.float32)
    frames = np.zeros(cycles, dtype=np.int64)
    states = np.zeros(cycles, dtype=np.int8)
    sizes = np.zeros(cycles, dtype=np.int32)
    song_beats = np.full(cycles, np.nan)
    position = ctypes.create_string_buffer(POSITION_SIZE)
    state = {"cycle": 0, "sample": 0}
    done = threading.Event()
    audio_address = audio.ctypes.data

    def process(nframes, _arg):
        cycle = state["cycle"]
        if cycle >= cycles or state["sample"] + nframes > audio.size:
            done.set()
            return 0
        states[cycle] = jack.jack_transport_query(client, position)
        (_, _, _, frame, valid, bar, beat, tick, _, beats_per_bar, _,
         ticks_per_beat) = POSITION.unpack_from(position.raw)
        frames[cycle] = frame
        if valid & POSITION_BBT_VALID and ticks_per_beat > 0:
            song_beats[cycle] = (bar - 1) * beats_per_bar + (beat - 1) + tick / ticks_per_beat
        sizes[cycle] = nframes
        ctypes.memmove(audio_address + 4 * state["sample"], jack.jack_port_get_buffer(port, nframes),
                       4 * nframes)
        state["sample"] += nframes
        state["cycle"] = cycle + 1
        return 0

    callback = PROCESS(process)  # kept alive until the client is closed
    if jack.jack_set_process_callback(client, callback, None) != 0 or jack.jack_activate(client) != 0:
        raise SystemExit("cannot activate the JACK client")
    if jack.jack_connect(client, source.encode(), jack.jack_port_name(port)) != 0:
        raise SystemExit(f"cannot connect {source} to the recorder")
    # The main thread waits without holding the interpreter's lock, and no
    # garbage collection pauses the callback meanwhile.
    gc.disable()
    print("recording", flush=True)
    done.wait(3 * seconds + 10)
    jack.jack_deactivate(client)
    jack.jack_client_close(client)
    n = state["cycle"]
    if n < cycles:
        raise SystemExit(f"only {n} of {cycles} cycles recorded in {3 * seconds + 10:.0f} s")
    np.savez(out, audio=audio[:state["sample"]], frame=frames[:n], state=states[:n],
             size=sizes[:n], beats=song_beats[:n], rate=rate)
    print(f"recorded {n} cycles of {block} frames at {rate} Hz", flush=True)


if __name__ == "__main__":
    main(sys.argv[1], float(sys.argv[2]), sys.argv[3])
