/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The VST3 shell around the LV2 plug-in: one object per plug-in instance,
 * both the processor and its controller (a single component: it names no
 * separate controller class), holding one hosted LV2 instance
 * (hosted_plugin.h). It speaks the VST3 interfaces through the plain C
 * declarations of the "travesty" headers: each interface the host may ask
 * for is a face of the object, a pointer to that interface's table of
 * functions followed by a pointer back to the object.
 *
 * Parameters are the control table's rows in port order, each with its LV2
 * port index as id, and one more, the program change, whose id lies beyond
 * every port index. A parameter change splits the block at its sample,
 * since the LV2 instance reads its controls once a run.
 *
 * Threads: creation, initialize, setupProcessing, setActive, the
 * parameters' descriptions, the programs and the state run on the host's
 * main thread; process on its audio thread, without allocation, lock or
 * system call. */
#ifndef MORVANE_VST3_PLUGIN_H
#define MORVANE_VST3_PLUGIN_H

#include <atomic>
#include <cstdint>
#include <vector>

#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/unit.h>

#include "hosted_plugin.h"

/* The program change parameter's id: beyond every LV2 port index. */
constexpr v3_param_id MORVANE_VST3_PROGRAM_ID = 0x10000;

/* The most parameter queues a block's changes are merged from. */
constexpr uint32_t MORVANE_VST3_MAX_QUEUES = 64;

struct vst3_plugin;
struct vst3_gui;

/* One interface of the object: what the host holds is a pointer to _table. */
struct vst3_face {
  const void* _table;
  vst3_plugin* _owner;
};

struct vst3_plugin {
  vst3_face _component, _processor, _controller, _requirements, _units;
  std::atomic<uint32_t> _refs;
  hosted_plugin _core;
  uint32_t _max_frames;
  std::atomic<bool> _active;  // set on the main thread, read by process
  v3_speaker_arrangement _input_arrangement;
  v3_component_handler** _handler;  // the host's, held while set
  std::atomic<int32_t> _program;     // the program last chosen (index among this plug-in's; -1 none)
  std::vector<float> _silence;       // the input when the host gives none
  vst3_gui* _gui;                    // the window's side (vst3_view.h)
};

/* The object behind a face the host called. */
inline vst3_plugin* vst3_of(void* self)
{
  return static_cast<vst3_face*>(self)->_owner;
}

/* A new plug-in for the LV2 descriptor at `lv2_index` (0 mono, 1 stereo),
 * its reference count at one; NULL when memory runs out. */
vst3_plugin* vst3_plugin_create(uint32_t lv2_index) noexcept;

/* FUnknown and IPluginBase, the same on every face. */
v3_result V3_API vst3_query_interface(void* self, const v3_tuid iid, void** obj);
uint32_t V3_API vst3_ref(void* self);
uint32_t V3_API vst3_unref(void* self);
v3_result V3_API vst3_initialize(void* self, v3_funknown** context);
v3_result V3_API vst3_terminate(void* self);

/* The state's bytes through a host's stream (`context` is its
 * v3_bstream**), as hosted_save and hosted_load want them. */
bool vst3_write_stream(void* context, const uint8_t* data, uint64_t size);
bool vst3_read_stream(void* context, uint8_t* data, uint64_t size);

/* The object's interfaces by id (query_interface's work); NULL if none. */
void* vst3_face_of(vst3_plugin* p, const v3_tuid iid) noexcept;

/* The parameters (vst3_params.cpp). */
uint32_t vst3_num_params(const vst3_plugin* p) noexcept;
/* A control's plain value for a normalized one, by the row's scale: steps
 * for stepped rows, a log scale for logarithmic ones, else linear. */
double vst3_to_plain(uint32_t row, double normalized) noexcept;
double vst3_to_normalized(uint32_t row, double plain) noexcept;

/* The programs this plug-in offers (the stereo-only preset only in the
 * stereo one), and the table entry of its index-th; NULL past the end. */
uint32_t vst3_num_own_programs(const vst3_plugin* p) noexcept;
const struct vst3_program* vst3_own_program(const vst3_plugin* p, uint32_t index) noexcept;
/* The program of a program parameter's normalized value. */
uint32_t vst3_program_index(const vst3_plugin* p, double normalized) noexcept;

/* The interfaces' tables. */
extern const v3_edit_controller_cpp vst3_controller_table;
extern const v3_unit_information_cpp vst3_units_table;

/* UTF-8 text into a VST3 string (cut to fit, always terminated). */
void vst3_string(v3_str_128 out, const char* text) noexcept;

#endif /* MORVANE_VST3_PLUGIN_H */
