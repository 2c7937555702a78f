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
# library OBJECTS (the shell) and the LV2 window's objects, a module
# (morvane_shell_module) exporting the names of EXPORTS. Installed as the
# component "vst3".
function(morvane_vst3_plugin target name lv2_index exports objects entry)
  morvane_shell_module(${target} ${exports} ${entry}
    $<TARGET_OBJECTS:${objects}>
    $<TARGET_OBJECTS:morvane_window_obj>
    $<TARGET_OBJECTS:morvane_draw_obj>)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/morvane/vst3)
  target_compile_definitions(${target} PRIVATE MORVANE_VST3_LV2_INDEX=${lv2_index})
  target_link_libraries(${target} PRIVATE morvane_vst3_headers PkgConfig::VST3_WINDOW ${CMAKE_DL_LIBS})
  set(contents ${MORVANE_VST3_DIR}/${name}.vst3/Contents/x86_64-linux)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${contents})
  install(TARGETS ${target} LIBRARY DESTINATION ${MORVANE_VST3_INSTALL_DIR}/${name}.vst3/Contents/x86_64-linux
          COMPONENT vst3)
endfunction()
