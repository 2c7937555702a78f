# SPDX-License-Identifier: LGPL-2.1-or-later
# The build of one engine library (libtembra, libquivex), called from the
# library's folder, whose src/ holds its sources and headers and tests/ its
# tests.
include(${CMAKE_CURRENT_LIST_DIR}/MorvaneShared.cmake)

# morvane_engine_library(NAME PREFIX HEADERS...)
#
# NAME_obj: the sources compiled once; the objects go into libNAME.a, into
# libNAME.so.0 (exporting exactly exports.txt) and into the plug-in's shared
# object, so no exported function can be dropped by the linker. HEADERS are
# the public headers, reached and installed as <PREFIX/...>.
function(morvane_engine_library name prefix)
  morvane_public_headers(${prefix} ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  add_library(${name}_obj OBJECT ${sources})
  target_include_directories(${name}_obj PUBLIC $<BUILD_INTERFACE:${MORVANE_GEN_INCLUDE}>
                                         PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name}_obj PUBLIC morvane_flags)

  add_library(${name} STATIC $<TARGET_OBJECTS:${name}_obj>)
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${MORVANE_GEN_INCLUDE}>)
  target_link_libraries(${name} PUBLIC morvane_flags)
  install(TARGETS ${name} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

  morvane_shared_library(${name}_shared ${name} ${name}_obj ${CMAKE_CURRENT_SOURCE_DIR}/exports.txt)
endfunction()

# morvane_engine_tests(NAME): NAME_tests, the library's GoogleTests (label
# "unit"), and NAME_long_tests, the exhaustive proofs of its vector paths in
# tests/long (minutes of CPU, label "long", left out by ctest -LE long).
function(morvane_engine_tests name)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp
                                    ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.c)
  add_executable(${name}_tests ${tests})
  target_include_directories(${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name}_tests PRIVATE ${name} GTest::gtest GTest::gtest_main)
  # The C translation unit proves the public headers are valid C11.
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/tests/c_api.c PROPERTIES
    COMPILE_OPTIONS "-std=c11;-pedantic;-Wall;-Wextra;-Werror")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "unit")

  file(GLOB long_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/long/*.cpp)
  add_executable(${name}_long_tests ${long_tests})
  target_include_directories(${name}_long_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name}_long_tests PRIVATE ${name} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}_long_tests DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS "long" TIMEOUT 3600)
endfunction()
