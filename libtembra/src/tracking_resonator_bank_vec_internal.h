/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Record of the tracking resonator bank, shared by its source file and its
// tests; nothing else may depend on the layout.
#ifndef TEMBRA_TRACKING_RESONATOR_BANK_VEC_INTERNAL_H
#define TEMBRA_TRACKING_RESONATOR_BANK_VEC_INTERNAL_H

#include "simd_path.h"
#include "tracking_resonator_bank_vec.h"

// Notation: omega is the angular frequency in radians per sample (negative
// for a positive frequency); Z = (_p_Zc, _p_Zs) the local-oscillator
// phasor, W = (_p_Wc, _p_Ws) = (cos omega, sin omega) its rotation per
// sample, P = (_p_dpc, _p_dps) a fixed rotator (always 1 + 0i) applied to Z
// when demodulating, S = (_cos, _sin) the first smoothing stage, C = (_cc,
// _ss) the second (the resonator's output) and D = (_dpc, _dps) the phase
// step conj(C before) * C after of the latest update. Every float* holds
// exactly _num_resonators floats (NULL when there are none).
struct _tracking_resonator_bank_vec {
    tembra_simd::Path _path;   // vector path of the readout kernels, chosen at creation
    float _samplerate;
    int _num_resonators;
    int _limit_range;          // nonzero: accept a new omega only inside the range
    float* _omega_range_min;   // omega of the upper frequency bound
    float* _omega_range_max;   // omega of the lower frequency bound
    float _sigma;              // weight of the newest peak power in _accPower
    float _omSigma;            // 1 - _sigma
    float _accPower;           // peak power of the latest update
    float* _natural_frequencies;
    float* _alpha;
    float* _omAlpha;
    float* _cos;               // S, the first smoothing stage: real part (not a cosine)
    float* _sin;               //    and imaginary part (not a sine)
    float* _beta;
    float* _omBeta;
    float* _cc;                // C, the second smoothing stage (the output): real part
    float* _ss;                //    and imaginary part
    float* _dpc;               // D, the phase step of the latest update: real part
    float* _dps;               //    and imaginary part
    float* _gamma;
    float* _omGamma;           // kept for completeness, read by nothing
    float* _track_frequency_power_threshold;
    float* _p_omega;
    float* _p_Zc;
    float* _p_Zs;
    float* _p_Wc;
    float* _p_Ws;
    float* _p_Wcps;            // _p_Wc + _p_Ws for the three-multiplication product
    float* _p_dpc;             // P, the fixed rotator applied to Z: real part (1)
    float* _p_dps;             //    and imaginary part (0)
    float* _p_frequency;       // frequency in Hz last set for the resonator
    float _two_pi_inv;
    float _sample_rate_inv;
    // Scratch of the whole-bank update passes, not state: this sample's
    // powers and the tracking steps of omega.
    float* _scratch_power;
    float* _scratch_step;
    // Memory of the phase readout: the components of C that the last arc
    // tangents were taken of, their results, and the floating-point mode
    // they were computed in (all zero at creation: atan2(0, 0) is 0).
    float* _memo_re;
    float* _memo_im;
    float* _memo_phase;
    unsigned _memo_mode;
    int _memo_rest;            // calls the memory still rests (see memo.h)
};

// Returns the bank's signal state (both smoothing stages, the phase steps,
// the tracking thresholds, the local oscillators, the peak power and the
// readout memory) to what creation left; the coefficients, the range limits
// and the natural frequencies stay. Not exported: the plug-in's activate
// reaches it through libtembra_restart.
void tracking_resonator_bank_vec_restart(tracking_resonator_bank_vec t) noexcept;

// Makes t's signal state (everything restart resets) what from's is, for a
// bank of the same size built alike. Audio thread: no allocation. Not
// exported: reached through libtembra_copy_state.
void tracking_resonator_bank_vec_copy_state(tracking_resonator_bank_vec t,
                                            tracking_resonator_bank_vec from) noexcept;

// The update one resonator at a time, in index order: the plain form that
// tracking_resonator_bank_vec_update computes in whole-bank passes. Not
// exported; the tests compare the two.
void tracking_resonator_bank_vec_update_one_by_one(tracking_resonator_bank_vec t, float sample) noexcept;

#endif  // TEMBRA_TRACKING_RESONATOR_BANK_VEC_INTERNAL_H
