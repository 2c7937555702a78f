# SPDX-License-Identifier: LGPL-2.1-or-later
# What programs that link the engines find after `cmake --install`:
# pkg-config files tembra.pc and quivex.pc, and the CMake package morvane
# (morvaneConfig.cmake with imported targets, and its version file). Both
# locate the install prefix relative to their own folder, so an installed
# tree can be moved.
include(CMakePackageConfigHelpers)

set(_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/morvane)
file(RELATIVE_PATH MORVANE_PC_TO_PREFIX /prefix/${_pc_dir} /prefix)
file(RELATIVE_PATH MORVANE_CONFIG_TO_PREFIX /prefix/${_config_dir} /prefix)

set(_gen ${CMAKE_BINARY_DIR}/package)
foreach(pc tembra quivex)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${_gen}/${pc}.pc @ONLY)
  install(FILES ${_gen}/${pc}.pc DESTINATION ${_pc_dir})
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/morvaneConfig.cmake.in ${_gen}/morvaneConfig.cmake @ONLY)
write_basic_package_version_file(${_gen}/morvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${_gen}/morvaneConfig.cmake ${_gen}/morvaneConfigVersion.cmake
        DESTINATION ${_config_dir})
