// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes the plug-ins' Turtle description: copies a template and puts the
// control ports, described by the table the plug-ins and the window use,
// where the template has the line %%MORVANE_CONTROL_PORTS%% (the mono
// plug-in's) or %%MORVANE_STEREO_CONTROL_PORTS%% (the stereo one's).
//   gen_ttl TEMPLATE OUTPUT
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "controls.h"

namespace {

// The shortest decimal that reads back as the same float, with a ".0"
// where it would otherwise be an integer (Turtle reads 4 as an integer).
std::string decimal(float value)
{
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  std::string s(buf, res.ptr);
  if (s.find_first_of(".e") == std::string::npos) {
    s += ".0";
  }
  return s;
}

const char* unit_uri(morvane_unit unit)
{
  switch (unit) {
    case MORVANE_UNIT_DB: return "units:db";
    case MORVANE_UNIT_HZ: return "units:hz";
    case MORVANE_UNIT_PERCENT: return "units:pc";
    case MORVANE_UNIT_DEGREE: return "units:degree";
    case MORVANE_UNIT_NONE: break;
  }
  return nullptr;
}

// The control ports of the first `rows` rows of the table.
std::string control_ports(uint32_t rows)
{
  std::ostringstream out;
  for (uint32_t i = 0; i < rows; ++i) {
    const morvane_control& c = morvane_controls[i];
    out << "\t[\n"
        << "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
        << "\t\tlv2:index " << c._port << " ;\n"
        << "\t\tlv2:symbol \"" << c._symbol << "\" ;\n"
        << "\t\tlv2:name \"" << c._name << "\" ;\n"
        << "\t\trdfs:comment \"" << c._comment << "\" ;\n"
        << "\t\tlv2:default " << decimal(c._default) << " ;\n"
        << "\t\tlv2:minimum " << decimal(c._min) << " ;\n"
        << "\t\tlv2:maximum " << decimal(c._max);
    if (const char* unit = unit_uri(c._unit)) {
      out << " ;\n\t\tunits:unit " << unit;
    }
    std::string properties;
    for (const auto& [on, name] : {std::pair{c._logarithmic, "pprops:logarithmic"},
                                   std::pair{c._reserved, "pprops:notOnGUI"},
                                   std::pair{c._kind == MORVANE_KIND_ENUMERATION, "lv2:enumeration"}}) {
      if (on) {
        properties += (properties.empty() ? "" : " , ") + std::string(name);
      }
    }
    if (!properties.empty()) {
      out << " ;\n\t\tlv2:portProperty " << properties;
    }
    for (uint32_t k = 0; k < c._num_points; ++k) {
      out << " ;\n\t\tlv2:scalePoint [ rdfs:label \"" << c._points[k]._label << "\" ; rdf:value "
          << decimal(c._points[k]._value) << " ]";
    }
    out << "\n\t] ,\n";
  }
  return out.str();
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: gen_ttl TEMPLATE OUTPUT\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "gen_ttl: cannot read %s\n", argv[1]);
    return 1;
  }
  std::ostringstream text;
  std::string line;
  bool placed = false;
  while (std::getline(in, line)) {
    if (line == "%%MORVANE_CONTROL_PORTS%%") {
      text << control_ports(MORVANE_NUM_CONTROLS);
      placed = true;
    } else if (line == "%%MORVANE_STEREO_CONTROL_PORTS%%") {
      text << control_ports(MORVANE_NUM_STEREO_CONTROLS);
    } else {
      text << line << '\n';
    }
  }
  if (!placed) {
    std::fprintf(stderr, "gen_ttl: %s has no %%MORVANE_CONTROL_PORTS%% line\n", argv[1]);
    return 1;
  }
  std::ofstream out(argv[2]);
  out << text.str();
  return out ? 0 : 1;
}
