// SPDX-License-Identifier: LGPL-2.1-or-later
// The CLAP state: the shared format of hosted_state.cpp through the host's
// streams; after a load the host is told to read the values again.
#include <clap/ext/params.h>
#include <clap/ext/state.h>

#include "clap_shell.h"

namespace {

bool write_all(void* context, const uint8_t* data, uint64_t size)
{
  const auto* stream = static_cast<const clap_ostream_t*>(context);
  while (size > 0) {
    const int64_t n = stream->write(stream, data, size);
    if (n <= 0) {
      return false;
    }
    data += n;
    size -= static_cast<uint64_t>(n);
  }
  return true;
}

bool read_all(void* context, uint8_t* data, uint64_t size)
{
  const auto* stream = static_cast<const clap_istream_t*>(context);
  while (size > 0) {
    const int64_t n = stream->read(stream, data, size);
    if (n <= 0) {
      return false;
    }
    data += n;
    size -= static_cast<uint64_t>(n);
  }
  return true;
}

bool save(const clap_plugin_t* plugin, const clap_ostream_t* stream)
{
  return stream != nullptr &&
         hosted_save(&clap_shell_of(plugin)->_core, write_all, const_cast<clap_ostream_t*>(stream));
}

bool load(const clap_plugin_t* plugin, const clap_istream_t* stream)
{
  clap_shell* s = clap_shell_of(plugin);
  if (stream == nullptr || !hosted_load(&s->_core, read_all, const_cast<clap_istream_t*>(stream))) {
    return false;
  }
  const auto* host_params =
      static_cast<const clap_host_params_t*>(s->_host->get_extension(s->_host, CLAP_EXT_PARAMS));
  if (host_params != nullptr && host_params->rescan != nullptr) {
    host_params->rescan(s->_host, CLAP_PARAM_RESCAN_VALUES);
  }
  return true;
}

}  // namespace

const clap_plugin_state_t morvane_clap_state = {save, load};
