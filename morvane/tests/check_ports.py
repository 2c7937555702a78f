# SPDX-License-Identifier: LGPL-2.1-or-later
"""Checks of the plug-in's port description that lv2_validate leaves out.

Reads N-Triples (as sordi writes them) and checks that every plug-in's
ports have indices 0 .. n-1 each exactly once, one symbol and one name
each, symbols unique among the ports and port groups (LV2 puts both in one
namespace), and for every control port one minimum, default and maximum
with minimum <= default <= maximum; a logarithmic port's minimum lies above
zero. Exits non-zero with a message per fault.

    check_ports.py FILE.nt...
"""
import re
import sys
from collections import defaultdict

LV2 = "http://lv2plug.in/ns/lv2core#"
RDF_TYPE = "http://www.w3.org/1999/02/22-rdf-syntax-ns#type"
PG_GROUP = "http://lv2plug.in/ns/ext/port-groups#group"
LOGARITHMIC = "http://lv2plug.in/ns/ext/port-props#logarithmic"

TERM = re.compile(r'<([^>]*)>|(_:\S+)|"((?:[^"\\]|\\.)*)"(?:\^\^<[^>]*>|@[\w-]+)?')


def parse(path):
    triples = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            terms = []
            for m in TERM.finditer(line):
                iri, blank, literal = m.groups()
                terms.append(iri if iri is not None else blank if blank is not None else ("lit", literal))
            if len(terms) != 3:
                raise SystemExit(f"{path}: cannot read line: {line}")
            triples.append(tuple(terms))
    return triples


def main(paths):
    graph = defaultdict(lambda: defaultdict(list))
    for path in paths:
        for s, p, o in parse(path):
            graph[s][p].append(o)

    faults = []
    plugins = [s for s, props in graph.items() if LV2 + "Plugin" in props[RDF_TYPE]]
    if not plugins:
        faults.append("no lv2:Plugin described")
    for plugin in plugins:
        ports = graph[plugin][LV2 + "port"]
        indices = []
        symbols = []
        for port in ports:
            props = graph[port]
            for key in ("index", "symbol", "name"):
                if len(props[LV2 + key]) != 1:
                    faults.append(f"port {port}: {len(props[LV2 + key])} values of lv2:{key}")
            if props[LV2 + "index"]:
                indices.append(int(props[LV2 + "index"][0][1]))
            if props[LV2 + "symbol"]:
                symbols.append(props[LV2 + "symbol"][0][1])
            name = (props[LV2 + "symbol"] or [("lit", str(port))])[0][1]
            if LV2 + "ControlPort" in props[RDF_TYPE]:
                values = {}
                for key in ("minimum", "default", "maximum"):
                    if len(props[LV2 + key]) != 1:
                        faults.append(f"{name}: {len(props[LV2 + key])} values of lv2:{key}")
                    else:
                        values[key] = float(props[LV2 + key][0][1])
                if len(values) == 3:
                    if not values["minimum"] <= values["default"] <= values["maximum"]:
                        faults.append(f"{name}: default {values['default']} outside "
                                      f"[{values['minimum']}, {values['maximum']}]")
                    if not values["minimum"] < values["maximum"]:
                        faults.append(f"{name}: empty range")
                    if LOGARITHMIC in props[LV2 + "portProperty"] and not values["minimum"] > 0:
                        faults.append(f"{name}: logarithmic with minimum {values['minimum']}")
        if sorted(indices) != list(range(len(ports))):
            faults.append(f"port indices are not 0..{len(ports) - 1} each once: {sorted(indices)}")
        groups = {g for port in ports for g in graph[port][PG_GROUP]}
        for group in groups:
            symbols += [sym[1] for sym in graph[group][LV2 + "symbol"]]
        duplicates = sorted({s for s in symbols if symbols.count(s) > 1})
        if duplicates:
            faults.append(f"symbols used more than once: {duplicates}")
        if not faults:
            print(f"{plugin}: {len(ports)} ports, indices 0..{len(ports) - 1}, "
                  f"{len(symbols)} unique symbols, every default within its range")
    for fault in faults:
        print("FAIL: " + fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
