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
# build/clap, the shell's SOURCES linked with the shells' shared core and
# the LV2 plug-in's own objects (its descriptors, the engines): one copy of
# the code for every format.
# Like the LV2 module, it exports exactly the names of EXPORTS, binds its
# calls to its own functions inside, and fails the link on an undefined
# symbol. Installed as the component "clap".
function(morvane_clap_plugin target name exports)
  add_library(${target} MODULE ${ARGN}
    $<TARGET_OBJECTS:morvane_shell_obj>
    $<TARGET_OBJECTS:morvane_plugin_obj>
    $<TARGET_OBJECTS:morvane_common_obj>
    $<TARGET_OBJECTS:morvane_decibel>
    $<TARGET_OBJECTS:quivex_obj>
    $<TARGET_OBJECTS:tembra_obj>)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/morvane/src ${PROJECT_SOURCE_DIR}/morvane/shell
                                               ${PROJECT_SOURCE_DIR}/libtembra/src
                                               ${MORVANE_GEN_INCLUDE})
  target_compile_definitions(${target} PRIVATE MORVANE_VERSION="${PROJECT_VERSION}")
  target_link_libraries(${target} PRIVATE morvane_flags morvane_clap_headers morvane_inline_draw_obj PkgConfig::LV2
                                          PkgConfig::CAIRO mvec m)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  morvane_version_script(${exports} ${map})
  target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${map} -Wl,-Bsymbolic-functions)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${name}
    SUFFIX ".clap"
    LIBRARY_OUTPUT_DIRECTORY ${MORVANE_CLAP_DIR}
    LINK_DEPENDS ${map})
  install(TARGETS ${target} LIBRARY DESTINATION ${MORVANE_CLAP_INSTALL_DIR} COMPONENT clap)
endfunction()
