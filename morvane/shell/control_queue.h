/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The window's control changes on their way from the main thread (the
 * window) to the thread that processes: gesture begin, value, gesture end,
 * in the order the window made them. One producer and one consumer, a
 * fixed ring, no lock and no allocation. A change that finds the ring full
 * (more than it holds between two blocks) is refused, and the producer
 * says so. */
#ifndef MORVANE_SHELL_CONTROL_QUEUE_H
#define MORVANE_SHELL_CONTROL_QUEUE_H

#include <atomic>
#include <cstdint>

enum control_change_kind : uint32_t {
  CONTROL_GESTURE_BEGIN,
  CONTROL_VALUE,
  CONTROL_GESTURE_END,
};

struct control_change {
  control_change_kind _kind;
  uint32_t _port;  // the LV2 port index of the control
  float _value;    // CONTROL_VALUE only
};

struct control_queue {
  static constexpr uint32_t CAPACITY = 1024;  // a power of two
  control_change _ring[CAPACITY];
  std::atomic<uint32_t> _written{0};  // changes pushed, ever (producer)
  std::atomic<uint32_t> _read{0};     // changes popped, ever (consumer)

  /* Producer. */
  bool push(const control_change& change) noexcept
  {
    const uint32_t w = _written.load(std::memory_order_relaxed);
    if (w - _read.load(std::memory_order_acquire) >= CAPACITY) {
      return false;
    }
    _ring[w % CAPACITY] = change;
    _written.store(w + 1, std::memory_order_release);
    return true;
  }
  /* Consumer. */
  bool pop(control_change* change) noexcept
  {
    const uint32_t r = _read.load(std::memory_order_relaxed);
    if (r == _written.load(std::memory_order_acquire)) {
      return false;
    }
    *change = _ring[r % CAPACITY];
    _read.store(r + 1, std::memory_order_release);
    return true;
  }
  /* Either side: whether every change pushed has been popped. */
  bool drained() const noexcept
  {
    return _read.load(std::memory_order_acquire) == _written.load(std::memory_order_acquire);
  }
};

#endif /* MORVANE_SHELL_CONTROL_QUEUE_H */
