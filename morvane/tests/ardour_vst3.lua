-- SPDX-License-Identifier: LGPL-2.1-or-later
-- The session side of the VST3 DAW test (ardour_vst3_test.sh), run by
-- ardour7-lua on the dummy audio backend, one phase per process:
--
--   ardour7-lua ardour_vst3.lua lv2 DIR NAME URI PRESET_LABEL
--       loads the session (holding a region on "Voice"), inserts the LV2
--       plug-in, loads the factory preset with that label, reports every
--       control's value by its parameter index, saves;
--   ardour7-lua ardour_vst3.lua vst3 DIR NAME UID LABELS PRESET INDEX=VALUE...
--       inserts the VST3 plug-in with that class id, reports how Ardour runs
--       it and which of the preset LABELS ("|" between them) it finds among
--       the plug-in's presets (its programs), loads the program PRESET and
--       reports the values it gave, then sets each control by its raw
--       parameter index, lets the engine run for a second (Ardour takes a
--       VST3 plug-in's values into its state from the running plug-in),
--       reports every value and saves;
--   ardour7-lua ardour_vst3.lua reopen DIR NAME
--       loads the saved session and reports the values of the plug-in on
--       "Voice": what survived the save.
-- Reports go to stdout on lines starting with "morvane-daw<TAB>"
-- (ardour_common.lua).

local here = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$")
local common = dofile(here .. "/ardour_common.lua")
local report = common.report
local TRACK = "Voice"

-- Every control input's value as a line of `kind`: its number among the
-- controls, its raw parameter index (an LV2 plug-in's port index), the
-- value.
local function report_values(processor, kind)
  local plugin = processor:to_insert():plugin(0)
  local n = 0
  for i = 0, plugin:parameter_count() - 1 do
    if plugin:parameter_is_control(i) and plugin:parameter_is_input(i) then
      local value = ARDOUR.LuaAPI.get_processor_param(processor, n, false)
      report(kind or "value", n, i, value)
      n = n + 1
    end
  end
end

local function insert(session, id, kind)
  local track = common.find_track(session, TRACK)
  local processor = ARDOUR.LuaAPI.new_plugin(session, id, kind, "")
  assert(not processor:isnil(), "Ardour cannot instantiate " .. id)
  assert(track:add_processor_by_index(processor, 0, nil, true) == 0, "cannot insert " .. id)
  local ins = processor:to_insert()
  local plugin = ins:plugin(0)
  report("plugin", plugin:unique_id(), plugin:name())
  report("streams", ins:input_streams():n_audio(), ins:output_streams():n_audio())
  report("instances", ins:get_count())
  return processor, plugin
end

local function lv2(dir, name, uri, preset_label)
  local session = common.load_session(dir, name)
  local processor, plugin = insert(session, uri, ARDOUR.PluginType.LV2)
  local preset = common.find_preset(plugin, preset_label)
  assert(plugin:load_preset(preset), "cannot load the preset " .. preset_label)
  report_values(processor)
  common.save(session)
  close_session()
end

local function vst3(dir, name, uid, labels, preset_label, settings)
  local session = common.load_session(dir, name)
  local processor, plugin = insert(session, uid, ARDOUR.PluginType.VST3)
  for label in labels:gmatch("[^|]+") do
    local preset = plugin:preset_by_label(label)
    if preset and preset.valid then report("preset", preset.label) end
  end
  -- Ardour lists no VST3 presets in the plug-in info, only in the plug-in.
  local program = plugin:preset_by_label(preset_label)
  assert(program and program.valid, "Ardour finds no program labelled " .. preset_label)
  assert(plugin:load_preset(program), "cannot load " .. preset_label)
  report_values(processor, "program-value")
  for _, setting in ipairs(settings) do
    local index, value = setting:match("^(%d+)=(.*)$")
    assert(index, "not INDEX=VALUE: " .. setting)
    assert(ARDOUR.LuaAPI.set_processor_param(processor, tonumber(index), tonumber(value)),
           "cannot set parameter " .. index)
  end
  ARDOUR.LuaAPI.usleep(1000000)
  report_values(processor)
  common.save(session)
  close_session()
end

local function reopen(dir, name)
  local session = common.load_session(dir, name)
  local track = common.find_track(session, TRACK)
  local processor = track:nth_plugin(0)
  assert(not processor:isnil(), "no plug-in on " .. TRACK)
  report("plugin", processor:to_insert():plugin(0):unique_id())
  report_values(processor)
  close_session()
end

local phase = arg[1]
if phase == "lv2" then
  lv2(arg[2], arg[3], arg[4], arg[5])
elseif phase == "vst3" then
  local settings = {}
  for i = 7, #arg do settings[#settings + 1] = arg[i] end
  vst3(arg[2], arg[3], arg[4], arg[5], arg[6], settings)
elseif phase == "reopen" then
  reopen(arg[2], arg[3])
else
  error("unknown phase " .. tostring(phase) .. " (lv2, vst3 or reopen)")
end
report("done", phase)
