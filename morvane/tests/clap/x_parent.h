/* SPDX-License-Identifier: LGPL-2.1-or-later */
// A host's top-level X11 window for the CLAP window tests, on the server
// in DISPLAY, with the pointer driven through XTest, and every X error of
// the process counted.
#ifndef MORVANE_TESTS_CLAP_X_PARENT_H
#define MORVANE_TESTS_CLAP_X_PARENT_H

#include <cstdint>
#include <utility>
#include <vector>

#include <X11/Xlib.h>

class XParent {
public:
  // A mapped window of width x height at the screen's top left.
  XParent(int width, int height);
  ~XParent();
  XParent(const XParent&) = delete;
  XParent& operator=(const XParent&) = delete;

  bool ok() const { return _window != 0; }
  Display* display() const { return _display; }
  unsigned long window() const { return _window; }
  // The plug-in's window: the first child of ours (0 for none).
  Window child() const;
  // The child's size as the server has it.
  std::pair<int, int> child_size() const;
  // The child's pixels, 0x00RRGGBB, row by row; one of them.
  std::vector<uint32_t> capture() const;
  uint32_t pixel(int x, int y) const;
  // The pointer to (x, y) of the child; a button pressed or released.
  void motion(double x, double y);
  void button(unsigned button, bool press);

private:
  Display* _display = nullptr;
  Window _window = 0;
};

// X errors the process's handler saw since the first XParent.
int x_errors();

#endif  // MORVANE_TESTS_CLAP_X_PARENT_H
