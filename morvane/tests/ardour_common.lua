-- SPDX-License-Identifier: LGPL-2.1-or-later
-- What the Lua phases of the Ardour tests share (ardour_session.lua,
-- ardour_song_lock.lua, ardour_stereo.lua load it with dofile from their
-- own folder). Reports go to stdout on lines starting with
-- "morvane-daw<TAB>", tab-separated, apart from Ardour's own messages.

local M = { RATE = 48000 }

function M.report(...)
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

function M.start_dummy_backend()
  local backend = AudioEngine:set_backend("None (Dummy)", "", "")
  assert(backend, "Ardour's dummy audio backend is not available")
  -- The default device of the dummy backend feeds silence to the inputs.
  backend:set_device_name("Silence")
end

function M.save(session)
  session:save_state("", false, false, false, false, false)
end

-- A new session at RATE in dir, on the dummy backend.
function M.create_session(dir, name)
  M.start_dummy_backend()
  local session = create_session(dir, name, M.RATE)
  assert(session, "cannot create a session in " .. dir)
  assert(session:nominal_sample_rate() == M.RATE, "session rate " .. session:nominal_sample_rate())
  return session
end

function M.load_session(dir, name)
  M.start_dummy_backend()
  local session = load_session(dir, name)
  assert(session, "cannot load the session " .. name .. " in " .. dir)
  return session
end

-- An audio track with `inputs` inputs and two outputs, output n feeding
-- master input n; reports its name, inputs and outputs. Ardour connects a
-- new track to the master bus from a thread of its own, which may not have
-- done so when the session is saved: the track is connected here.
function M.add_track(session, name, inputs)
  local tracks = session:new_audio_track(inputs, 2, nil, 1, name,
                                         ARDOUR.PresentationInfo.max_order,
                                         ARDOUR.TrackMode.Normal, true, false)
  assert(tracks:size() == 1, "no track was created")
  local track = tracks:front()
  local outputs = track:output()
  local master = session:master_out():input()
  assert(outputs:n_ports():n_audio() == master:n_ports():n_audio(),
         "the track and the master bus differ in channels")
  outputs:disconnect_all(nil)
  for n = 0, outputs:n_ports():n_audio() - 1 do
    assert(outputs:connect(outputs:audio(n), master:audio(n):name(), nil) == 0,
           "cannot connect " .. outputs:audio(n):name())
  end
  M.report("track", track:name(), track:n_inputs():n_audio(), track:n_outputs():n_audio())
  return track
end

function M.find_track(session, name)
  local route = session:route_by_name(name)
  assert(not route:isnil(), "no route named " .. name)
  local track = route:to_track()
  assert(not track:isnil(), name .. " is not a track")
  return track
end

-- The plug-in with `uri` inserted first on the track. Reports its URI and
-- name, the insert's audio inputs and outputs and the track's outputs, and
-- how many instances of the plug-in the insert runs (a host replicates a
-- plug-in with too few inputs for the track).
function M.insert_plugin(session, track, uri)
  local processor = ARDOUR.LuaAPI.new_plugin(session, uri, ARDOUR.PluginType.LV2, "")
  assert(not processor:isnil(), "Ardour cannot instantiate " .. uri)
  assert(track:add_processor_by_index(processor, 0, nil, true) == 0,
         "cannot insert the plug-in on " .. track:name())
  local insert = processor:to_insert()
  local plugin = insert:plugin(0)
  M.report("plugin", plugin:unique_id(), plugin:name())
  M.report("streams", insert:input_streams():n_audio(), insert:output_streams():n_audio(),
           track:n_outputs():n_audio())
  M.report("instances", insert:get_count())
  return insert, plugin
end

-- The preset Ardour lists for the plug-in under that label.
function M.find_preset(plugin, label)
  for preset in plugin:get_info():get_presets(false):iter() do
    if preset.label == label then return preset end
  end
  error("Ardour lists no preset labelled " .. label)
end

-- The plug-in's control inputs by Ardour's label: their number among the
-- controls.
function M.controls_by_label(plugin)
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

-- The preset with that label loaded (none when it is ""), then each
-- "LABEL=VALUE" of settings set; reports the preset and every control's
-- value by label, in label order.
function M.set_controls(insert, plugin, preset_label, settings)
  if preset_label ~= "" then
    local preset = M.find_preset(plugin, preset_label)
    assert(plugin:load_preset(preset), "cannot load the preset " .. preset_label)
    M.report("loaded", preset.label)
  end
  local labels = M.controls_by_label(plugin)
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
    M.report("value", label, value)
  end
end

return M
