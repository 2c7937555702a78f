// SPDX-License-Identifier: LGPL-2.1-or-later
#include "x_parent.h"

#include <cmath>
#include <cstdio>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

int g_errors = 0;

int count_error(Display* display, XErrorEvent* error)
{
  char text[256] = {};
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "X error: %s (request %d.%d)\n", text, error->request_code, error->minor_code);
  ++g_errors;
  return 0;
}

}  // namespace

int x_errors()
{
  return g_errors;
}

XParent::XParent(int width, int height)
{
  XSetErrorHandler(count_error);
  _display = XOpenDisplay(nullptr);
  if (_display == nullptr) {
    return;
  }
  _window = XCreateSimpleWindow(_display, DefaultRootWindow(_display), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, 0, 0);
  XMapRaised(_display, _window);
  XSync(_display, False);
}

XParent::~XParent()
{
  if (_display != nullptr) {
    if (_window != 0) {
      XDestroyWindow(_display, _window);
    }
    XCloseDisplay(_display);
  }
}

Window XParent::child() const
{
  Window root = 0, parent = 0, found = 0;
  Window* children = nullptr;
  unsigned int n = 0;
  if (XQueryTree(_display, _window, &root, &parent, &children, &n) != 0 && children != nullptr) {
    found = n > 0 ? children[0] : 0;
    XFree(children);
  }
  return found;
}

std::pair<int, int> XParent::child_size() const
{
  XWindowAttributes attrs{};
  const Window c = child();
  if (c == 0 || XGetWindowAttributes(_display, c, &attrs) == 0) {
    return {0, 0};
  }
  return {attrs.width, attrs.height};
}

std::vector<uint32_t> XParent::capture() const
{
  const auto [width, height] = child_size();
  std::vector<uint32_t> px;
  if (width <= 0) {
    return px;
  }
  XImage* image = XGetImage(_display, child(), 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                            AllPlanes, ZPixmap);
  if (image == nullptr) {
    return px;
  }
  px.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      px.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xffffffu);
    }
  }
  XDestroyImage(image);
  return px;
}

uint32_t XParent::pixel(int x, int y) const
{
  XImage* image = XGetImage(_display, child(), x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) {
    return 0;
  }
  const auto value = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xffffffu;
  XDestroyImage(image);
  return value;
}

void XParent::motion(double x, double y)
{
  int rx = 0, ry = 0;
  Window unused = 0;
  XTranslateCoordinates(_display, child(), DefaultRootWindow(_display), static_cast<int>(std::lround(x)),
                        static_cast<int>(std::lround(y)), &rx, &ry, &unused);
  XTestFakeMotionEvent(_display, DefaultScreen(_display), rx, ry, CurrentTime);
  XSync(_display, False);
}

void XParent::button(unsigned button, bool press)
{
  XTestFakeButtonEvent(_display, button, press ? True : False, CurrentTime);
  XSync(_display, False);
}
