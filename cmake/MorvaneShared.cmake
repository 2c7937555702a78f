# SPDX-License-Identifier: LGPL-2.1-or-later
# morvane_shared_library(TARGET NAME OBJECTS EXPORTS)
#
# A shared library lib<NAME>.so with the SONAME lib<NAME>.so.<major> from
# the object library OBJECTS. A linker version script made from the
# EXPORTS file (one C function name a line) exports exactly those names and
# keeps everything else local, the weak C++ runtime symbols included.
# The library's calls to its own exported functions are bound inside it
# (-Bsymbolic-functions), so a function of the same name elsewhere in the
# process (a host's, a preloaded library's) cannot take them over; its calls
# into other libraries stay ordinary dynamic linking.
# Installed into the library folder (default install component).
# morvane_version_script(EXPORTS MAP): writes to MAP a linker version script
# that exports the names of EXPORTS (one C function name a line) and keeps
# everything else local.
function(morvane_version_script exports map)
  file(STRINGS ${exports} names)
  set(vs "{\n  global:\n")
  foreach(sym IN LISTS names)
    if(NOT sym STREQUAL "")
      string(APPEND vs "    ${sym};\n")
    endif()
  endforeach()
  string(APPEND vs "  local: *;\n};\n")
  file(WRITE ${map} "${vs}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${exports})
endfunction()

function(morvane_shared_library target name objects exports)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  morvane_version_script(${exports} ${map})

  add_library(${target} SHARED $<TARGET_OBJECTS:${objects}>)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${map})
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${MORVANE_GEN_INCLUDE}>)
  target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${map}
                                        -Wl,-Bsymbolic-functions)
  install(TARGETS ${target}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Unspecified)
endfunction()

# morvane_bundle_module(TARGET EXPORTS): the LV2 module TARGET (made by the
# caller with add_library(TARGET MODULE ...)) as TARGET.so in the bundle. A
# version script from EXPORTS exports exactly those names; its calls to its
# own functions are bound inside it, so a host or library defining a
# function of the same name cannot take them over; undefined symbols fail
# the link.
function(morvane_bundle_module target exports)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  morvane_version_script(${exports} ${map})
  target_link_options(${target} PRIVATE
    -Wl,--no-undefined
    -Wl,--version-script=${map}
    -Wl,-Bsymbolic-functions)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${MORVANE_BUNDLE_DIR}
    LINK_DEPENDS ${map})
endfunction()

# morvane_linked_headers(TARGET FOLDER NAME HINT FILE...): an INTERFACE
# target through which code writes #include <NAME/...> for the headers in
# FOLDER. They are reached through a link NAME in the build tree, so that
# nothing else beside FOLDER lands on the include path. Configuring fails,
# with HINT, when a FILE is missing from FOLDER.
function(morvane_linked_headers target folder name hint)
  foreach(file IN LISTS ARGN)
    if(NOT EXISTS ${folder}/${file})
      message(FATAL_ERROR "${name} headers not found in ${folder} (${hint})")
    endif()
  endforeach()
  set(dir ${CMAKE_BINARY_DIR}/${name}-include)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${folder} ${dir}/${name} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${dir})
endfunction()

# morvane_shell_module(TARGET EXPORTS SOURCES...): a plug-in module of one
# of the other formats: SOURCES (its shell) linked with the shells' shared
# core and the LV2 plug-in's own objects (its descriptors, the engines),
# one copy of the code for every format. Like the LV2 module, it exports
# exactly the names of EXPORTS, binds its calls to its own functions
# inside, and fails the link on an undefined symbol. The caller names the
# file and where it goes.
function(morvane_shell_module target exports)
  add_library(${target} MODULE ${ARGN}
    $<TARGET_OBJECTS:morvane_shell_obj>
    $<TARGET_OBJECTS:morvane_plugin_obj>
    $<TARGET_OBJECTS:morvane_common_obj>
    $<TARGET_OBJECTS:morvane_decibel>
    $<TARGET_OBJECTS:quivex_obj>
    $<TARGET_OBJECTS:tembra_obj>)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/morvane/src ${PROJECT_SOURCE_DIR}/morvane/shell
                                               ${PROJECT_SOURCE_DIR}/libtembra/src ${MORVANE_GEN_INCLUDE})
  target_compile_definitions(${target} PRIVATE MORVANE_VERSION="${PROJECT_VERSION}")
  target_link_libraries(${target} PRIVATE morvane_flags morvane_inline_draw_obj PkgConfig::LV2 PkgConfig::CAIRO mvec m)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  morvane_version_script(${exports} ${map})
  target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${map} -Wl,-Bsymbolic-functions)
  set_target_properties(${target} PROPERTIES PREFIX "" LINK_DEPENDS ${map})
endfunction()
