-- SPDX-License-Identifier: LGPL-2.1-or-later
-- The session side of the stereo DAW test, run by ardour7-lua on the dummy
-- audio backend, one phase per process (the tool is not safe with several
-- sessions in one process):
--
--   ardour7-lua ardour_stereo.lua create DIR NAME
--       a new 48 kHz session with one stereo audio track, "Pair" (two
--       inputs, two outputs feeding the master bus);
--   ardour7-lua ardour_stereo.lua configure DIR NAME URI PRESET [LABEL=VALUE...]
--       loads the session (by then holding a two-channel region on
--       "Pair"), inserts the plug-in on the track and reports how Ardour
--       runs it (instances, audio inputs and outputs, the plug-ins on the
--       route) and the presets it lists for it; loads the factory preset
--       with that label, sets each control named by its label to VALUE,
--       reports every control's value, saves the session.
--
-- Reports go to stdout on lines starting with "morvane-daw<TAB>"
-- (ardour_common.lua). Any fault raises an error; the caller also checks
-- the closing "done" line.

local here = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$")
local common = dofile(here .. "/ardour_common.lua")
local report = common.report
local TRACK = "Pair"

local function create(dir, name)
  local session = common.create_session(dir, name)
  common.add_track(session, TRACK, 2)
  common.save(session)
  close_session()
end

local function configure(dir, name, uri, preset_label, settings)
  local session = common.load_session(dir, name)
  local track = common.find_track(session, TRACK)
  local insert, plugin = common.insert_plugin(session, track, uri)
  local count = 0
  while not track:nth_plugin(count):isnil() do count = count + 1 end
  report("route-plugins", count)
  for preset in plugin:get_info():get_presets(false):iter() do
    report("preset", preset.label)
  end
  common.set_controls(insert, plugin, preset_label, settings)
  common.save(session)
  close_session()
end

local phase = arg[1]
if phase == "create" then
  create(arg[2], arg[3])
elseif phase == "configure" then
  local settings = {}
  for i = 6, #arg do settings[#settings + 1] = arg[i] end
  configure(arg[2], arg[3], arg[4], arg[5], settings)
else
  error("unknown phase " .. tostring(phase) .. " (create or configure)")
end
report("done", phase)
