// SPDX-License-Identifier: LGPL-2.1-or-later
// The plug-in's source as one unit of the fuzz build. The plug-in defines
// lv2_descriptor noexcept, which GCC accepts against the C declaration in
// lv2.h but clang refuses; the header is read first and the definition is
// compiled under a name of its own, which the fuzz target calls.
#include <lv2/core/lv2.h>
#define lv2_descriptor morvane_fuzz_descriptor
#include "../morvane/src/morvane.cpp"
