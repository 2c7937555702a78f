# SPDX-License-Identifier: LGPL-2.1-or-later
# The VST3 bundles. The VST3 interfaces come as the plain C declarations of
# the "travesty" headers in Debian's dpf-source (ISC); they are reached as
# <travesty/NAME.h> through a link in the build tree, so that nothing else
# of that package lands on the include path.
include(${CMAKE_CURRENT_LIST_DIR}/MorvaneShared.cmake)

set(MORVANE_VST3_INCLUDE_DIR /usr/share/dpf/distrho/src/travesty CACHE PATH
    "Folder holding the travesty VST3 headers (base.h, component.h ...); Debian's dpf-source")
morvane_linked_headers(morvane_vst3_headers ${MORVANE_VST3_INCLUDE_DIR} travesty
  "install dpf-source, or set MORVANE_VST3_INCLUDE_DIR, or -DMORVANE_VST3=OFF" base.h audio_processor.h)

set(MORVANE_VST3_DIR ${CMAKE_BINARY_DIR}/vst3)
set(MORVANE_VST3_INSTALL_DIR lib/vst3 CACHE STRING "Install folder of the VST3 bundles, relative to the prefix")

# morvane_vst3_plugin(TARGET NAME LV2_INDEX EXPORTS OBJECTS ENTRY): the
# bundle NAME.vst3 in build/vst3, its module Contents/x86_64-linux/NAME.so
# holding the plug-in of LV2 descriptor LV2_INDEX (0 mono, 1 stereo): the
# source ENTRY (its factory, built for that plug-in) linked with the object
# library OBJECTS (the shell), the shells' shared core, the LV2 window's
# objects and the LV2 plug-in's own objects: one copy of the code for
# every format. Like the
# LV2 module, it exports exactly the names of EXPORTS, binds its calls to
# its own functions inside, and fails the link on an undefined symbol.
# Installed as the component "vst3".
function(morvane_vst3_plugin target name lv2_index exports objects entry)
  add_library(${target} MODULE ${entry}
    $<TARGET_OBJECTS:${objects}>
    $<TARGET_OBJECTS:morvane_shell_obj>
    $<TARGET_OBJECTS:morvane_window_obj>
    $<TARGET_OBJECTS:morvane_draw_obj>
    $<TARGET_OBJECTS:morvane_plugin_obj>
    $<TARGET_OBJECTS:morvane_common_obj>
    $<TARGET_OBJECTS:morvane_decibel>
    $<TARGET_OBJECTS:quivex_obj>
    $<TARGET_OBJECTS:tembra_obj>)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/morvane/src ${PROJECT_SOURCE_DIR}/morvane/shell
                                               ${PROJECT_SOURCE_DIR}/morvane/vst3 ${PROJECT_SOURCE_DIR}/libtembra/src
                                               ${MORVANE_GEN_INCLUDE})
  target_compile_definitions(${target} PRIVATE MORVANE_VERSION="${PROJECT_VERSION}"
                                               MORVANE_VST3_LV2_INDEX=${lv2_index})
  target_link_libraries(${target} PRIVATE morvane_flags morvane_vst3_headers morvane_inline_draw_obj PkgConfig::LV2
                                          PkgConfig::CAIRO PkgConfig::VST3_WINDOW mvec m ${CMAKE_DL_LIBS})
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  morvane_version_script(${exports} ${map})
  target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${map} -Wl,-Bsymbolic-functions)
  set(contents ${MORVANE_VST3_DIR}/${name}.vst3/Contents/x86_64-linux)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${name}
    SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${contents}
    LINK_DEPENDS ${map})
  install(TARGETS ${target} LIBRARY DESTINATION ${MORVANE_VST3_INSTALL_DIR}/${name}.vst3/Contents/x86_64-linux
          COMPONENT vst3)
endfunction()
