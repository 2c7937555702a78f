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

local RATE = 48000
local TRACK = "Tone"

local function report(...)
  local fields = { "morvane-daw" }
  for _, v in ipairs({ ... }) do
    if type(v) == "number" then
      fields[#fields + 1] = string.format("%.9g", v)
    else
      fields[#fields + 1] = tostring(v)
    end
  end
  print(table.concat(fields, "\t"))
end

local function start_dummy_backend()
  local backend = AudioEngine:set_backend("None (Dummy)", "", "")
  assert(backend, "Ardour's dummy audio backend is not available")
  backend:set_device_name("Silence")
end

local function save(session)
  session:save_state("", false, false, false, false, false)
end

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
  start_dummy_backend()
  local session = create_session(dir, name, RATE)
  assert(session, "cannot create a session in " .. dir)
  local map = Temporal.TempoMap.fetch_writable()
  map:set_tempo(Temporal.Tempo(bpm, bpm, 4), Temporal.timepos_t(0))
  Temporal.TempoMap.update(map)
  local tracks = session:new_audio_track(1, 2, nil, 1, TRACK,
                                         ARDOUR.PresentationInfo.max_order,
                                         ARDOUR.TrackMode.Normal, true, false)
  assert(tracks:size() == 1, "no track was created")
  local track = tracks:front()
  -- Connected here, output n to master input n (Ardour's own connection
  -- runs in a thread that may come after the save).
  local outputs = track:output()
  local master = session:master_out():input()
  outputs:disconnect_all(nil)
  for n = 0, outputs:n_ports():n_audio() - 1 do
    assert(outputs:connect(outputs:audio(n), master:audio(n):name(), nil) == 0,
           "cannot connect " .. outputs:audio(n):name())
  end
  report("track", track:name(), track:n_inputs():n_audio(), track:n_outputs():n_audio())
  report_tempo_map({})
  save(session)
  close_session()
end

-- The plug-in's control inputs by Ardour's label: parameter number among
-- the controls and the control's index among all parameters.
local function controls_by_label(plugin)
  local list = {}
  local n = 0
  for i = 0, plugin:parameter_count() - 1 do
    if plugin:parameter_is_control(i) and plugin:parameter_is_input(i) then
      list[plugin:parameter_label(i)] = n
      n = n + 1
    end
  end
  return list
end

local function configure(dir, name, uri, preset_label, settings)
  start_dummy_backend()
  local session = load_session(dir, name)
  assert(session, "cannot load the session " .. name .. " in " .. dir)
  local route = session:route_by_name(TRACK)
  assert(not route:isnil(), "no route named " .. TRACK)
  local track = route:to_track()
  local range = session:locations():session_range_location()
  assert(range, "the session has no range")
  report("session-range", range:start():samples(), range:_end():samples())

  local processor = ARDOUR.LuaAPI.new_plugin(session, uri, ARDOUR.PluginType.LV2, "")
  assert(not processor:isnil(), "Ardour cannot instantiate " .. uri)
  assert(track:add_processor_by_index(processor, 0, nil, true) == 0,
         "cannot insert the plug-in on " .. TRACK)
  local insert = processor:to_insert()
  local plugin = insert:plugin(0)
  local wanted = nil
  for preset in plugin:get_info():get_presets(false):iter() do
    if preset.label == preset_label then wanted = preset end
  end
  assert(wanted, "Ardour lists no preset labelled " .. preset_label)
  assert(plugin:load_preset(wanted), "cannot load the preset " .. preset_label)
  report("loaded", wanted.label)

  local labels = controls_by_label(plugin)
  for _, setting in ipairs(settings) do
    local label, value = setting:match("^(.-)=(.*)$")
    assert(label and labels[label], "no control labelled " .. tostring(label))
    assert(ARDOUR.LuaAPI.set_plugin_insert_param(insert, labels[label], tonumber(value)),
           "cannot set " .. label)
  end
  local sorted = {}
  for label, _ in pairs(labels) do sorted[#sorted + 1] = label end
  table.sort(sorted)
  for _, label in ipairs(sorted) do
    local ok = false
    local value = ARDOUR.LuaAPI.get_plugin_insert_param(insert, labels[label], ok)
    report("value", label, value)
  end
  report_tempo_map({})
  save(session)
  close_session()
end

local function set_range(dir, name, first, last)
  start_dummy_backend()
  local session = load_session(dir, name)
  assert(session, "cannot load the session " .. name .. " in " .. dir)
  local range = session:locations():session_range_location()
  assert(range, "the session has no range")
  range:set(Temporal.timepos_t(first), Temporal.timepos_t(last))
  report("session-range", range:start():samples(), range:_end():samples())
  report_tempo_map({ first })
  save(session)
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
