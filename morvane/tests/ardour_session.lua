-- SPDX-License-Identifier: LGPL-2.1-or-later
-- The session side of the DAW test, run by ardour7-lua (Ardour's headless
-- Lua session tool) on the dummy audio backend. Each phase runs in a
-- process of its own, as the tool is not safe with several sessions in one
-- process:
--
--   ardour7-lua ardour_session.lua create DIR NAME
--       a new 48 kHz session with one mono audio track, "Voice";
--   ardour7-lua ardour_session.lua configure DIR NAME URI PRESET_LABEL
--       loads the session (by then holding a region on "Voice"), inserts
--       the plug-in on the track, reports what Ardour sees of it, loads
--       every factory preset in turn and the one with that label last, and
--       saves the session.
--
-- Everything the checker reads goes to stdout on lines starting with
-- "morvane-daw<TAB>", tab-separated, apart from Ardour's own messages.
-- Any fault raises an error, which makes ardour7-lua print it; the caller
-- also checks that the phase printed its closing "done" line.

local RATE = 48000
local TRACK = "Voice"

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
  -- The default device of the dummy backend feeds silence to the inputs.
  backend:set_device_name("Silence")
end

local function find_track(session)
  local route = session:route_by_name(TRACK)
  assert(not route:isnil(), "no route named " .. TRACK)
  local track = route:to_track()
  assert(not track:isnil(), TRACK .. " is not a track")
  return track
end

local function create(dir, name)
  start_dummy_backend()
  local session = create_session(dir, name, RATE)
  assert(session, "cannot create a session in " .. dir)
  assert(session:nominal_sample_rate() == RATE,
         "session rate " .. session:nominal_sample_rate())
  local tracks = session:new_audio_track(1, 2, nil, 1, TRACK,
                                         ARDOUR.PresentationInfo.max_order,
                                         ARDOUR.TrackMode.Normal, true, false)
  assert(tracks:size() == 1, "no track was created")
  local track = tracks:front()
  report("track", track:name(), track:n_inputs():n_audio(), track:n_outputs():n_audio())
  -- Ardour connects a new track to the master bus from a thread of its
  -- own, which may not have done so when the session is saved: the track
  -- is connected here, output n to master input n.
  local outputs = track:output()
  local master = session:master_out():input()
  assert(outputs:n_ports():n_audio() == master:n_ports():n_audio(),
         "the track and the master bus differ in channels")
  outputs:disconnect_all(nil)
  for n = 0, outputs:n_ports():n_audio() - 1 do
    assert(outputs:connect(outputs:audio(n), master:audio(n):name(), nil) == 0,
           "cannot connect " .. outputs:audio(n):name())
  end
  report("rate", session:nominal_sample_rate())
  session:save_state("", false, false, false, false, false)
  close_session()
end

-- Every control input of the plug-in, in port order: the control's number
-- among the plug-in's controls, its label, range and default as Ardour
-- read them from the Turtle, and its current value in the insert.
local function controls(insert)
  local plugin = insert:plugin(0)
  local list = {}
  local n = 0
  for i = 0, plugin:parameter_count() - 1 do
    if plugin:parameter_is_control(i) and plugin:parameter_is_input(i) then
      local _, refs = plugin:get_parameter_descriptor(i, ARDOUR.ParameterDescriptor())
      local desc = refs[2]
      local ok = false
      list[#list + 1] = {
        n = n, label = plugin:parameter_label(i),
        lower = desc.lower, upper = desc.upper, normal = desc.normal,
        value = ARDOUR.LuaAPI.get_plugin_insert_param(insert, n, ok),
      }
      n = n + 1
    end
  end
  return list
end

local function configure(dir, name, uri, preset_label)
  start_dummy_backend()
  local session = load_session(dir, name)
  assert(session, "cannot load the session " .. name .. " in " .. dir)
  report("rate", session:nominal_sample_rate())

  local track = find_track(session)
  local regions = track:playlist():region_list()
  for region in regions:iter() do
    report("region", region:name(), region:position():samples(), region:length():samples())
  end
  report("regions", regions:size())
  -- Which of the track's outputs feed which master input.
  local master = session:master_out():input()
  for n = 0, track:output():n_ports():n_audio() - 1 do
    local port = track:output():audio(n)
    for m = 0, master:n_ports():n_audio() - 1 do
      if port:connected_to(master:audio(m):name()) then
        report("connection", n, m)
      end
    end
  end
  local range = session:locations():session_range_location()
  assert(range, "the session has no range")
  report("session-range", range:start():samples(), range:_end():samples())

  local processor = ARDOUR.LuaAPI.new_plugin(session, uri, ARDOUR.PluginType.LV2, "")
  assert(not processor:isnil(), "Ardour cannot instantiate " .. uri)
  assert(track:add_processor_by_index(processor, 0, nil, true) == 0,
         "cannot insert the plug-in on " .. TRACK)
  local insert = processor:to_insert()
  local plugin = insert:plugin(0)
  report("plugin", plugin:unique_id(), plugin:name())
  report("streams", insert:input_streams():n_audio(), insert:output_streams():n_audio(),
         track:n_outputs():n_audio())

  for _, c in ipairs(controls(insert)) do
    report("control", c.n, c.label, c.lower, c.upper, c.normal, c.value)
  end
  -- Every preset Ardour lists is loaded in turn and the controls read
  -- back; the one asked for is loaded last and stays.
  local wanted = nil
  for preset in plugin:get_info():get_presets(false):iter() do
    report("preset", preset.uri, preset.label)
    assert(plugin:load_preset(preset), "cannot load the preset " .. preset.label)
    for _, c in ipairs(controls(insert)) do
      report("preset-value", preset.uri, c.n, c.value)
    end
    if preset.label == preset_label then wanted = preset end
  end
  assert(wanted, "Ardour lists no preset labelled " .. preset_label)

  assert(plugin:load_preset(wanted), "cannot load the preset " .. preset_label)
  local last = plugin:last_preset()
  report("loaded", last.uri, last.label)
  for _, c in ipairs(controls(insert)) do
    report("value", c.n, c.label, c.value)
  end

  session:save_state("", false, false, false, false, false)
  close_session()
end

local phase = arg[1]
if phase == "create" then
  create(arg[2], arg[3])
elseif phase == "configure" then
  configure(arg[2], arg[3], arg[4], arg[5])
else
  error("unknown phase " .. tostring(phase) .. " (create or configure)")
end
report("done", phase)
