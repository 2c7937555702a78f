// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes the VST3 plug-ins' program table from the LV2 bundle's factory
// presets: each pset:Preset of the Turtle file, in the file's order, with
// its label, whether it applies to the mono plug-in too, and the values it
// sets by LV2 port index (its port symbols looked up in the control table).
// A preset naming a symbol the table lacks fails the build.
//   gen_programs PRESETS.ttl OUTPUT.cpp
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <serd/serd.h>

#include "controls.h"

namespace {

constexpr const char* RDF_TYPE = "http://www.w3.org/1999/02/22-rdf-syntax-ns#type";
constexpr const char* PSET_PRESET = "http://lv2plug.in/ns/ext/presets#Preset";
constexpr const char* PSET_VALUE = "http://lv2plug.in/ns/ext/presets#value";
constexpr const char* LV2_APPLIES_TO = "http://lv2plug.in/ns/lv2core#appliesTo";
constexpr const char* LV2_PORT = "http://lv2plug.in/ns/lv2core#port";
constexpr const char* LV2_SYMBOL = "http://lv2plug.in/ns/lv2core#symbol";
constexpr const char* RDFS_LABEL = "http://www.w3.org/2000/01/rdf-schema#label";
constexpr const char* MONO_URI = "http://morvane.example.org/plugins/morvane";

struct Triple {
  std::string s, p, o;
};

struct Reader {
  SerdEnv* env;
  std::vector<Triple> triples;
};

// A node as text: URIs and CURIEs expanded, blank nodes marked by "_:".
std::string text(const SerdEnv* env, const SerdNode* node)
{
  if (node->type == SERD_CURIE || node->type == SERD_URI) {
    SerdNode uri = serd_env_expand_node(env, node);
    std::string s(reinterpret_cast<const char*>(uri.buf), uri.n_bytes);
    serd_node_free(&uri);
    return s;
  }
  const std::string s(reinterpret_cast<const char*>(node->buf), node->n_bytes);
  return node->type == SERD_BLANK ? "_:" + s : s;
}

SerdStatus on_prefix(void* handle, const SerdNode* name, const SerdNode* uri)
{
  return serd_env_set_prefix(static_cast<Reader*>(handle)->env, name, uri);
}

SerdStatus on_statement(void* handle, SerdStatementFlags, const SerdNode*, const SerdNode* subject,
                        const SerdNode* predicate, const SerdNode* object, const SerdNode*, const SerdNode*)
{
  auto* r = static_cast<Reader*>(handle);
  r->triples.push_back({text(r->env, subject), text(r->env, predicate), text(r->env, object)});
  return SERD_SUCCESS;
}

// The C++ string literal of s.
std::string quoted(const std::string& s)
{
  std::string q = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      q += '\\';
    }
    q += c;
  }
  return q + "\"";
}

int fail(const std::string& what)
{
  std::fprintf(stderr, "gen_programs: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 3) {
    return fail("usage: gen_programs PRESETS.ttl OUTPUT.cpp");
  }
  Reader r{serd_env_new(nullptr), {}};
  SerdReader* reader = serd_reader_new(SERD_TURTLE, &r, nullptr, nullptr, on_prefix, on_statement, nullptr);
  const SerdStatus status = serd_reader_read_file(reader, reinterpret_cast<const uint8_t*>(argv[1]));
  serd_reader_free(reader);
  serd_env_free(r.env);
  if (status != SERD_SUCCESS) {
    return fail(std::string("cannot read ") + argv[1]);
  }

  std::vector<std::string> presets;  // in the file's order
  std::map<std::string, std::vector<std::string>> objects;  // "subject predicate" -> objects
  for (const Triple& t : r.triples) {
    objects[t.s + " " + t.p].push_back(t.o);
    if (t.p == RDF_TYPE && t.o == PSET_PRESET) {
      presets.push_back(t.s);
    }
  }
  const auto one = [&](const std::string& s, const char* p) -> std::string {
    const auto it = objects.find(s + " " + p);
    return it == objects.end() || it->second.size() != 1 ? std::string() : it->second[0];
  };

  std::string values, table;
  for (std::size_t i = 0; i < presets.size(); ++i) {
    const std::string& preset = presets[i];
    const std::string label = one(preset, RDFS_LABEL);
    if (label.empty()) {
      return fail(preset + " has no single label");
    }
    bool mono = false;
    for (const std::string& uri : objects[preset + " " + LV2_APPLIES_TO]) {
      mono = mono || uri == MONO_URI;
    }
    const std::vector<std::string>& ports = objects[preset + " " + LV2_PORT];
    values += "constexpr vst3_program_value PROGRAM_" + std::to_string(i) + "[] = {\n";
    for (const std::string& port : ports) {
      const std::string symbol = one(port, LV2_SYMBOL);
      const std::string value = one(port, PSET_VALUE);
      int row = -1;
      for (uint32_t k = 0; k < MORVANE_NUM_STEREO_CONTROLS; ++k) {
        if (symbol == morvane_controls[k]._symbol) {
          row = static_cast<int>(k);
        }
      }
      if (row < 0 || value.empty()) {
        return fail(preset + ": no control of symbol \"" + symbol + "\" or no value");
      }
      // As an LV2 host reads a value: a double, then the port's float.
      char number[40];
      std::snprintf(number, sizeof number, "%.9g", static_cast<double>(static_cast<float>(std::strtod(value.c_str(), nullptr))));
      values += "  {" + std::to_string(morvane_controls[row]._port) + ", " + number + "},  // " + symbol + "\n";
    }
    values += "};\n";
    table += "  {" + quoted(label) + ", " + (mono ? "false" : "true") + ", PROGRAM_" + std::to_string(i) +
             ", " + std::to_string(ports.size()) + "},\n";
  }

  std::ofstream out(argv[2]);
  out << "// SPDX-License-Identifier: LGPL-2.1-or-later\n"
      << "// Written by gen_programs from the factory presets; do not edit.\n"
      << "#include \"vst3_programs.h\"\n\nnamespace {\n\n"
      << values << "\n}  // namespace\n\n"
      << "const vst3_program vst3_programs[] = {\n" << table << "};\n"
      << "const uint32_t vst3_num_programs = " << presets.size() << ";\n";
  return out.good() ? 0 : fail(std::string("cannot write ") + argv[2]);
}
