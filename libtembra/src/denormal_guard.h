/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The floating-point mode the audio thread computes in: flush-to-zero and
 * denormals-are-zero, set for the length of one scope by DenormalGuard.
 * Subnormal intermediates (resonator states decaying in silence) would
 * otherwise cost a microcode assist each, and the output of every stage is
 * defined under this mode, whatever mode the host's thread has. The
 * plug-in's run and the effect engine's next_buffer each hold one guard;
 * the caller's mode is back when they return. */
#ifndef TEMBRA_DENORMAL_GUARD_H
#define TEMBRA_DENORMAL_GUARD_H

#include <xmmintrin.h>

namespace tembra_fp {

/* MXCSR flush-to-zero (bit 15) and denormals-are-zero (bit 6). */
constexpr unsigned kFtzDaz = 0x8040u;

/* The flush-to-zero and denormals-are-zero bits of the caller's MXCSR. */
inline unsigned ftz_daz_bits() noexcept { return _mm_getcsr() & kFtzDaz; }

/* Sets flush-to-zero and denormals-are-zero for its lifetime and puts the
 * caller's MXCSR back when it ends. */
class DenormalGuard {
public:
    DenormalGuard() noexcept : _saved(_mm_getcsr()) { _mm_setcsr(_saved | kFtzDaz); }
    ~DenormalGuard() { _mm_setcsr(_saved); }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    unsigned _saved;
};

}  // namespace tembra_fp

#endif /* TEMBRA_DENORMAL_GUARD_H */
