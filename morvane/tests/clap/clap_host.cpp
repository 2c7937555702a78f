// SPDX-License-Identifier: LGPL-2.1-or-later
#include "clap_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct Stream {
  std::vector<uint8_t>* bytes;
  std::size_t read_at = 0;
};

}  // namespace

ClapFile::ClapFile(bool resident)
{
  _handle = dlopen(MORVANE_CLAP_FILE, RTLD_NOW | RTLD_LOCAL | (resident ? RTLD_NODELETE : 0));
  if (_handle == nullptr) {
    return;
  }
  _entry = static_cast<const clap_plugin_entry_t*>(dlsym(_handle, "clap_entry"));
  if (_entry != nullptr && clap_version_is_compatible(_entry->clap_version) && _entry->init(MORVANE_CLAP_FILE)) {
    _factory = static_cast<const clap_plugin_factory_t*>(_entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
  }
}

ClapFile::~ClapFile()
{
  if (_factory != nullptr) {
    _entry->deinit();
  }
  if (_handle != nullptr) {
    dlclose(_handle);
  }
}

bool clap_file_loaded()
{
  void* handle = dlopen(MORVANE_CLAP_FILE, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);
  }
  return handle != nullptr;
}

const clap_plugin_factory_t* clap_test_factory()
{
  // Kept mapped to the end: the program's many tests need not pay for
  // loading it again, and the unloading has tests of its own.
  static ClapFile file(true);
  return file.factory();
}

namespace {

ClapInstance* instance_of(const clap_host_t* host)
{
  return static_cast<ClapInstance*>(host->host_data);
}

const clap_host_gui_t host_gui = {
    [](const clap_host_t*) {},
    [](const clap_host_t* h, uint32_t width, uint32_t height) {
      instance_of(h)->request_resize(width, height);
      return true;
    },
    [](const clap_host_t*) { return false; }, [](const clap_host_t*) { return false; },
    [](const clap_host_t*, bool) {}};

const clap_host_timer_support_t host_timer = {
    [](const clap_host_t* h, uint32_t period_ms, clap_id* id) { return instance_of(h)->register_timer(period_ms, id); },
    [](const clap_host_t* h, clap_id id) { return instance_of(h)->unregister_timer(id); }};

const clap_host_params_t host_params = {[](const clap_host_t*, clap_param_rescan_flags) {},
                                        [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
                                        [](const clap_host_t* h) { instance_of(h)->request_flush(); }};

const void* host_extension(const clap_host_t*, const char* id)
{
  if (std::strcmp(id, CLAP_EXT_GUI) == 0) {
    return &host_gui;
  }
  if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) {
    return &host_timer;
  }
  if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) {
    return &host_params;
  }
  return nullptr;
}

}  // namespace

ClapInstance::ClapInstance(const char* id, const clap_plugin_factory_t* factory)
{
  _events.reserve(256);  // queueing never allocates while a block is made
  _output.reserve(4096);
  _host = clap_host_t{CLAP_VERSION_INIT, this, "morvane test host", "morvane developers", "", "0",
                      host_extension, [](const clap_host_t*) {}, [](const clap_host_t*) {},
                      [](const clap_host_t*) {}};
  if (factory == nullptr) {
    return;
  }
  _plugin = factory->create_plugin(factory, &_host, id);
  if (_plugin == nullptr || !_plugin->init(_plugin)) {
    return;
  }
  _params = static_cast<const clap_plugin_params_t*>(_plugin->get_extension(_plugin, CLAP_EXT_PARAMS));
  _state = static_cast<const clap_plugin_state_t*>(_plugin->get_extension(_plugin, CLAP_EXT_STATE));
  _ports = static_cast<const clap_plugin_audio_ports_t*>(_plugin->get_extension(_plugin, CLAP_EXT_AUDIO_PORTS));
}

ClapInstance::~ClapInstance()
{
  if (_plugin != nullptr) {
    close_window();
    deactivate();
    _plugin->destroy(_plugin);
  }
}

bool ClapInstance::activate(double rate, uint32_t max_frames, unsigned seed)
{
  std::srand(seed);
  _active = _plugin->activate(_plugin, rate, 1, max_frames) && _plugin->start_processing(_plugin);
  return _active;
}

void ClapInstance::deactivate()
{
  if (_active) {
    _plugin->stop_processing(_plugin);
    _plugin->deactivate(_plugin);
    _active = false;
  }
}

void ClapInstance::queue(const Event& e)
{
  // In time order, later ones of the same time after earlier ones.
  const auto at = std::upper_bound(_events.begin(), _events.end(), e.header.time,
                                   [](uint32_t t, const Event& x) { return t < x.header.time; });
  _events.insert(at, e);
}

void ClapInstance::param(uint32_t time, clap_id id, double value)
{
  Event e{};
  e.param = clap_event_param_value_t{{sizeof(clap_event_param_value_t), time, CLAP_CORE_EVENT_SPACE_ID,
                                      CLAP_EVENT_PARAM_VALUE, 0},
                                     id, nullptr, -1, -1, -1, -1, value};
  queue(e);
}

void ClapInstance::transport(uint32_t time, const clap_event_transport_t& t)
{
  Event e{};
  e.transport = t;
  e.transport.header = {sizeof(clap_event_transport_t), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
  queue(e);
}

namespace {

clap_input_events_t event_list(std::vector<ClapInstance::Event>* events)
{
  return clap_input_events_t{
      events,
      [](const clap_input_events_t* l) {
        return static_cast<uint32_t>(static_cast<std::vector<ClapInstance::Event>*>(l->ctx)->size());
      },
      [](const clap_input_events_t* l, uint32_t i) -> const clap_event_header_t* {
        return &(*static_cast<std::vector<ClapInstance::Event>*>(l->ctx))[i].header;
      }};
}

bool record(const clap_output_events_t* list, const clap_event_header_t* e)
{
  return static_cast<ClapInstance*>(list->ctx)->take_output(e);
}

}  // namespace

bool ClapInstance::take_output(const clap_event_header_t* e)
{
  if (_output.size() == _output.capacity() || e->size > sizeof(Event)) {
    return false;
  }
  Event copy{};
  std::memcpy(&copy, e, e->size);
  _output.push_back(copy);
  return true;
}

bool ClapInstance::register_timer(uint32_t period_ms, clap_id* id)
{
  if (period_ms == 0 || id == nullptr) {
    return false;
  }
  *id = _next_timer++;
  _timers.push_back(*id);
  return true;
}

bool ClapInstance::unregister_timer(clap_id id)
{
  const auto at = std::find(_timers.begin(), _timers.end(), id);
  if (at == _timers.end()) {
    return false;
  }
  _timers.erase(at);
  return true;
}

bool ClapInstance::open_window(unsigned long parent, double scale)
{
  _gui = static_cast<const clap_plugin_gui_t*>(_plugin->get_extension(_plugin, CLAP_EXT_GUI));
  _timer_support =
      static_cast<const clap_plugin_timer_support_t*>(_plugin->get_extension(_plugin, CLAP_EXT_TIMER_SUPPORT));
  if (_gui == nullptr || _timer_support == nullptr || !_gui->is_api_supported(_plugin, CLAP_WINDOW_API_X11, false) ||
      !_gui->create(_plugin, CLAP_WINDOW_API_X11, false)) {
    return false;
  }
  _window = true;
  uint32_t width = 0, height = 0;
  clap_window_t window{};
  window.api = CLAP_WINDOW_API_X11;
  window.x11 = parent;
  return _gui->set_scale(_plugin, scale) && _gui->get_size(_plugin, &width, &height) &&
         _gui->set_parent(_plugin, &window) && _gui->show(_plugin);
}

std::pair<uint32_t, uint32_t> ClapInstance::window_size() const
{
  uint32_t width = 0, height = 0;
  if (_window) {
    _gui->get_size(_plugin, &width, &height);
  }
  return {width, height};
}

void ClapInstance::close_window()
{
  if (_window) {
    _gui->destroy(_plugin);
    _window = false;
  }
}

void ClapInstance::timer()
{
  for (const clap_id id : std::vector<clap_id>(_timers)) {
    _timer_support->on_timer(_plugin, id);
  }
}

void ClapInstance::processing(bool on)
{
  if (on) {
    _plugin->start_processing(_plugin);
  } else {
    _plugin->stop_processing(_plugin);
  }
}

void ClapInstance::flush()
{
  const clap_input_events_t events = event_list(&_events);
  const clap_output_events_t out_events{this, record};
  _params->flush(_plugin, &events, &out_events);
  _events.clear();
}

clap_process_status ClapInstance::process(const float* in_l, const float* in_r, float* out_l, float* out_r,
                                          uint32_t n)
{
  float* ins[2] = {const_cast<float*>(in_l), const_cast<float*>(in_r)};
  float* outs[2] = {out_l, out_r};
  const clap_audio_buffer_t in{ins, nullptr, 2, 0, 0};
  clap_audio_buffer_t out{outs, nullptr, 2, 0, 0};
  const clap_input_events_t events = event_list(&_events);
  const clap_output_events_t out_events{this, record};
  const clap_process_t p{_steady, n, _block_transport, &in, &out, 1, 1, &events, &out_events};
  const clap_process_status status = _plugin->process(_plugin, &p);
  _steady += n;
  _events.clear();
  return status;
}

double ClapInstance::value(clap_id id) const
{
  double v = NAN;
  _params->get_value(_plugin, id, &v);
  return v;
}

std::vector<uint8_t> ClapInstance::save() const
{
  std::vector<uint8_t> bytes;
  Stream s{&bytes};
  // Written a few bytes at a time, as hosts' streams may take them.
  const clap_ostream_t out{&s, [](const clap_ostream_t* o, const void* data, uint64_t size) -> int64_t {
                             auto* st = static_cast<Stream*>(o->ctx);
                             const auto n = std::min<uint64_t>(size, 5);
                             const auto* b = static_cast<const uint8_t*>(data);
                             st->bytes->insert(st->bytes->end(), b, b + n);
                             return static_cast<int64_t>(n);
                           }};
  if (!_state->save(_plugin, &out)) {
    bytes.clear();
  }
  return bytes;
}

bool ClapInstance::load(const std::vector<uint8_t>& bytes)
{
  std::vector<uint8_t> copy = bytes;
  Stream s{&copy};
  const clap_istream_t in{&s, [](const clap_istream_t* i, void* data, uint64_t size) -> int64_t {
                            auto* st = static_cast<Stream*>(i->ctx);
                            const auto n = std::min<uint64_t>({size, 3, st->bytes->size() - st->read_at});
                            std::memcpy(data, st->bytes->data() + st->read_at, n);
                            st->read_at += n;
                            return static_cast<int64_t>(n);
                          }};
  return _state->load(_plugin, &in);
}

clap_event_transport_t clap_transport(double seconds, double beats, double bpm, bool playing)
{
  clap_event_transport_t t{};
  t.header = {sizeof t, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
  t.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_HAS_SECONDS_TIMELINE |
            CLAP_TRANSPORT_HAS_TIME_SIGNATURE | (playing ? CLAP_TRANSPORT_IS_PLAYING : 0);
  t.song_pos_beats = std::llround(beats * static_cast<double>(CLAP_BEATTIME_FACTOR));
  t.song_pos_seconds = std::llround(seconds * static_cast<double>(CLAP_SECTIME_FACTOR));
  t.tempo = bpm;
  const double bar = std::floor(beats / 4.0);
  t.bar_start = std::llround(bar * 4.0 * static_cast<double>(CLAP_BEATTIME_FACTOR));
  t.bar_number = static_cast<int32_t>(bar);
  t.tsig_num = 4;
  t.tsig_denom = 4;
  return t;
}
