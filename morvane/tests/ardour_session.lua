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

local here = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$")
local common = dofile(here .. "/ardour_common.lua")
local report = common.report
local TRACK = "Voice"

local function create(dir, name)
  local session = common.create_session(dir, name)
  common.add_track(session, TRACK, 1)
  report("rate", session:nominal_sample_rate())
  common.save(session)
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
  local session = common.load_session(dir, name)
  report("rate", session:nominal_sample_rate())

  local track = common.find_track(session, TRACK)
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

  local insert, plugin = common.insert_plugin(session, track, uri)

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

  common.save(session)
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
