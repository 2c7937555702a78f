// SPDX-License-Identifier: LGPL-2.1-or-later
// The control port's sequence as hosts and broken hosts hand it to run:
// each one placed so that its last byte is the last readable byte, either
// just before a page that may not be read (any over-read is a SIGSEGV, in
// every build) or at the end of an allocation of exactly its size (where
// AddressSanitizer sees an over-read of even one byte).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <sys/mman.h>
#include <unistd.h>

#include "plugin_host.h"

namespace {

// `bytes` copied to the very end of readable memory: before a PROT_NONE
// page, or at the end of a malloc of exactly their size.
class EdgePlaced {
public:
  EdgePlaced(const std::vector<uint8_t>& bytes, bool guard_page) : _size(bytes.size())
  {
    if (guard_page) {
      const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
      _map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      EXPECT_NE(_map, MAP_FAILED);
      mprotect(static_cast<uint8_t*>(_map) + page, page, PROT_NONE);
      _at = static_cast<uint8_t*>(_map) + page - _size;
      _page = page;
    } else {
      _at = static_cast<uint8_t*>(std::malloc(_size == 0 ? 1 : _size));
    }
    std::memcpy(_at, bytes.data(), _size);
  }
  ~EdgePlaced()
  {
    if (_map != nullptr) {
      munmap(_map, 2 * _page);
    } else {
      std::free(_at);
    }
  }
  EdgePlaced(const EdgePlaced&) = delete;
  EdgePlaced& operator=(const EdgePlaced&) = delete;
  const LV2_Atom_Sequence* seq() const { return reinterpret_cast<const LV2_Atom_Sequence*>(_at); }

private:
  std::size_t _size;
  void* _map = nullptr;
  std::size_t _page = 0;
  uint8_t* _at;
};

// A sequence of `body_size` bytes (its atom.size) and nothing after it.
std::vector<uint8_t> sequence_bytes(const morvane_uris& ids, const std::vector<uint8_t>& body)
{
  std::vector<uint8_t> bytes(sizeof(LV2_Atom) + body.size());
  const LV2_Atom head = {static_cast<uint32_t>(body.size()), ids._atom_Sequence};
  std::memcpy(bytes.data(), &head, sizeof head);
  if (!body.empty()) {
    std::memcpy(bytes.data() + sizeof head, body.data(), body.size());
  }
  return bytes;
}

// Appends an event at frame 0 whose atom is `atom`, padded to 8 bytes
// unless it is the last event and `pad` is false.
void append_event(std::vector<uint8_t>& body, const void* atom, uint32_t size, bool pad = true)
{
  const std::size_t at = body.size();
  body.resize(at + sizeof(int64_t) + size, 0);
  std::memcpy(body.data() + at + sizeof(int64_t), atom, size);
  if (pad) {
    body.resize((body.size() + 7) & ~std::size_t{7}, 0);
  }
}

std::vector<uint8_t> float_atom(const morvane_uris& ids, float value)
{
  std::vector<uint8_t> atom(sizeof(LV2_Atom_Float));
  const LV2_Atom_Float f = {{sizeof(float), ids._atom_Float}, value};
  std::memcpy(atom.data(), &f, sizeof f);
  return atom;
}

// The plug-in with its window's ports, run once over a control sequence.
struct ControlledPlugin {
  PluginHost host{48000.0, HostSetup{.max_block = 256, .offer_urid_map = true, .connect_atom_ports = true}};

  ControlledPlugin() { std::fill(host.in_l().begin(), host.in_l().end(), 0.25f); }

  // Runs once; returns the number of frames the plug-in wrote back.
  std::size_t run(const LV2_Atom_Sequence* control)
  {
    host.connect(MORVANE_CONTROL, const_cast<LV2_Atom_Sequence*>(control));
    host.run(static_cast<uint32_t>(host.max_block()));
    std::vector<morvane_frame> frames;
    EXPECT_TRUE(read_frames(host.notify(), host.ids(), &frames));
    return frames.size();
  }
};

TEST(ControlSequence, ReadsNoByteBeyondTheSequenceItWasGiven)
{
  ControlledPlugin p;
  ASSERT_TRUE(p.host.ok());
  const morvane_uris& ids = p.host.ids();
  uint8_t open[64];
  const uint32_t open_size = morvane_window_message(&ids, true, open, sizeof open);
  const std::vector<uint8_t> f = float_atom(ids, 1.0f);
  std::vector<std::vector<uint8_t>> bodies;
  std::vector<bool> opens;

  // A float event last, the sequence's size at its unpadded end (28): the
  // next event would start 4 bytes past it.
  std::vector<uint8_t> body(sizeof(LV2_Atom_Sequence_Body), 0);
  append_event(body, f.data(), static_cast<uint32_t>(f.size()), false);
  ASSERT_EQ(body.size(), 28u);
  bodies.push_back(body);
  opens.push_back(false);
  // The window's message, then that unpadded float: the message still counts.
  body.assign(sizeof(LV2_Atom_Sequence_Body), 0);
  append_event(body, open, open_size);
  append_event(body, f.data(), static_cast<uint32_t>(f.size()), false);
  bodies.push_back(body);
  opens.push_back(true);
  // An event whose atom says it is longer than what is left.
  body.assign(sizeof(LV2_Atom_Sequence_Body), 0);
  append_event(body, f.data(), static_cast<uint32_t>(f.size()));
  LV2_Atom liar = {4096, ids._atom_Float};
  std::memcpy(body.data() + body.size() - 16 + sizeof(int64_t), &liar, sizeof liar);
  bodies.push_back(body);
  opens.push_back(false);
  // Bodies shorter than the sequence header, then an event header cut short.
  for (std::size_t n = 0; n < sizeof(LV2_Atom_Sequence_Body) + sizeof(LV2_Atom_Event); ++n) {
    bodies.emplace_back(n, 0xFF);
    opens.push_back(false);
  }
  // Random bodies of 0 to 64 bytes.
  std::mt19937 rng(2026);
  for (std::size_t n = 0; n <= 64; ++n) {
    for (int k = 0; k < 8; ++k) {
      std::vector<uint8_t> random(n);
      for (uint8_t& b : random) {
        b = static_cast<uint8_t>(rng());
      }
      bodies.push_back(random);
      opens.push_back(false);
    }
  }

  for (bool guard_page : {true, false}) {
    for (std::size_t i = 0; i < bodies.size(); ++i) {
      // Hosts hand atoms on 8-byte boundaries, so a sequence's 32-bit
      // fields are aligned; ending one at a page's end keeps that only for
      // sizes that are whole 32-bit words. Every size goes to the exact
      // allocation, which starts aligned.
      if (guard_page && (sizeof(LV2_Atom) + bodies[i].size()) % 4 != 0) {
        continue;
      }
      SCOPED_TRACE(testing::Message() << "sequence " << i << " of " << bodies[i].size()
                                      << " bytes, guard page " << guard_page);
      const EdgePlaced placed(sequence_bytes(ids, bodies[i]), guard_page);
      const std::size_t frames = p.run(placed.seq());
      if (opens[i]) {
        EXPECT_EQ(frames, 1u) << "a WindowOpen before the cut-short event was lost";
      }
      // Close the window again with a well-formed message.
      AtomBuffer control(64);
      control.clear_input(ids);
      send_window_message(control, ids, false);
      p.run(control.seq());
      EXPECT_EQ(p.run(control.seq()), 0u);
    }
  }
}

}  // namespace
