# SPDX-License-Identifier: LGPL-2.1-or-later
# The CLAP plug-in file. The CLAP 1.1 headers come from Debian's dpf-source;
# they are reached as <clap/NAME.h> through a link in the build tree, so
# that nothing else of that package lands on the include path.
include(${CMAKE_CURRENT_LIST_DIR}/MorvaneShared.cmake)

set(MORVANE_CLAP_INCLUDE_DIR /usr/share/dpf/distrho/src/clap CACHE PATH
    "Folder holding the CLAP 1.1 headers (entry.h, ext/params.h ...); Debian's dpf-source")
morvane_linked_headers(morvane_clap_headers ${MORVANE_CLAP_INCLUDE_DIR} clap
  "install dpf-source, or set MORVANE_CLAP_INCLUDE_DIR, or -DMORVANE_CLAP=OFF" entry.h ext/params.h)

set(MORVANE_CLAP_DIR ${CMAKE_BINARY_DIR}/clap)
set(MORVANE_CLAP_INSTALL_DIR lib/clap CACHE STRING "Install folder of the CLAP plug-in, relative to the prefix")

# morvane_clap_plugin(TARGET NAME EXPORTS SOURCES...): NAME.clap in
# build/clap, a module of the shell's SOURCES (morvane_shell_module)
# exporting the names of EXPORTS. Installed as the component "clap".
function(morvane_clap_plugin target name exports)
  morvane_shell_module(${target} ${exports} ${ARGN})
  target_link_libraries(${target} PRIVATE morvane_clap_headers)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    SUFFIX ".clap"
    LIBRARY_OUTPUT_DIRECTORY ${MORVANE_CLAP_DIR})
  install(TARGETS ${target} LIBRARY DESTINATION ${MORVANE_CLAP_INSTALL_DIR} COMPONENT clap)
endfunction()
