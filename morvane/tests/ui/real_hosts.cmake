# SPDX-License-Identifier: LGPL-2.1-or-later
# The window in real hosts: jalv.gtk3 and jalv.qt5 (suil embedding the X11
# window in GTK 3 and in Qt 5), each on its own Xvfb display with the
# plug-in on a JACK dummy backend and a tone at its input; the window must
# be there at its size, drawn, and moving (label "ui", and "display": they
# run an X server, which the sanitized run leaves out). Skipped (77) when
# a program is missing, unless MORVANE_REQUIRE_UI=1.
foreach(host gtk3 qt5)
  set(name morvane_ui_jalv_${host}_shows_the_moving_window)
  add_test(NAME ${name}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/jalv_window.sh jalv.${host}
            ${CMAKE_CURRENT_BINARY_DIR}/jalv-${host}-window)
  set_tests_properties(${name} PROPERTIES
    LABELS "ui;display" SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 60
    ENVIRONMENT "LV2_PATH=${MORVANE_TEST_LV2_PATH};MORVANE_URI=http://morvane.example.org/plugins/morvane")
endforeach()
