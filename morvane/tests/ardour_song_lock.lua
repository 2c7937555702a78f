-- SPDX-License-Identifier: LGPL-2.1-or-later
-- The session side of the song-lock DAW test, run by ardour7-lua on the
-- dummy audio backend, one phase per process (the tool is not safe with
-- several sessions in one process):
--
--   ardour7-lua ardour_song_lock.lua create DIR NAME BPM
--       a new 48 kHz session at BPM quarter notes a minute in 4/4, with one
--       mono audio track, "Tone", feeding the master bus;
--   ardour7-lua ardour_song_lock.lua configure DIR NAME URI PRESET [LABEL=VALUE...]
--       loads the session (by then holding a region on "Tone"), inserts the
--       plug-in on the track, loads the factory preset with that label,
--       then sets each control named by its label to VALUE; reports every
--       control's value and the tempo map; saves the session;
--   ardour7-lua ardour_song_lock.lua range DIR NAME START END
--       sets the session range (what an export renders) to START .. END
--       samples and saves the session.
--
-- Reports go to stdout on lines starting with "morvane-daw<TAB>",
-- tab-separated. Any fault raises an error; the caller also checks the
-- closing "done" line.

local here = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$")
local common = dofile(here .. "/ardour_common.lua")
local report = common.report
local RATE = common.RATE
local TRACK = "Tone"

-- The tempo at a few points of the song, in quarter notes a minute, and
-- the bar, beat and tick (1920 a beat) at a few samples.
local function report_tempo_map(samples)
  local map = Temporal.TempoMap.read()
  for _, seconds in ipairs({ 0, 5, 10 }) do
    report("tempo", seconds, map:quarters_per_minute_at(Temporal.timepos_t(RATE * seconds)))
  end
  for _, sample in ipairs(samples) do
    report("bbt", sample, map:bbt_at(Temporal.timepos_t(sample)):str())
  end
end

local function create(dir, name, bpm)
  local session = common.create_session(dir, name)
  local map = Temporal.TempoMap.fetch_writable()
  map:set_tempo(Temporal.Tempo(bpm, bpm, 4), Temporal.timepos_t(0))
  Temporal.TempoMap.update(map)
  common.add_track(session, TRACK, 1)
  report_tempo_map({})
  common.save(session)
  close_session()
end

local function configure(dir, name, uri, preset_label, settings)
  local session = common.load_session(dir, name)
  local track = common.find_track(session, TRACK)
  local range = session:locations():session_range_location()
  assert(range, "the session has no range")
  report("session-range", range:start():samples(), range:_end():samples())
  local insert, plugin = common.insert_plugin(session, track, uri)
  common.set_controls(insert, plugin, preset_label, settings)
  report_tempo_map({})
  common.save(session)
  close_session()
end

local function set_range(dir, name, first, last)
  local session = common.load_session(dir, name)
  local range = session:locations():session_range_location()
  assert(range, "the session has no range")
  range:set(Temporal.timepos_t(first), Temporal.timepos_t(last))
  report("session-range", range:start():samples(), range:_end():samples())
  report_tempo_map({ first })
  common.save(session)
  close_session()
end

local phase = arg[1]
if phase == "create" then
  create(arg[2], arg[3], tonumber(arg[4]))
elseif phase == "configure" then
  local settings = {}
  for i = 6, #arg do settings[#settings + 1] = arg[i] end
  configure(arg[2], arg[3], arg[4], arg[5], settings)
elseif phase == "range" then
  set_range(arg[2], arg[3], tonumber(arg[4]), tonumber(arg[5]))
else
  error("unknown phase " .. tostring(phase) .. " (create, configure or range)")
end
report("done", phase)
