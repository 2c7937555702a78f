/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Copying one record's signal state into another of the same size: each
// record lists its per-entry arrays, and the copy is one memcpy per array.
// Used where a second channel starts from where the first one is.
#ifndef TEMBRA_STATE_COPY_H
#define TEMBRA_STATE_COPY_H

#include <cstddef>
#include <cstring>

namespace tembra_state {

// For each listed member: n floats from src's array into dst's.
template <class T, std::size_t K>
inline void copy_arrays(T* dst, const T* src, float* T::* const (&fields)[K], int n) noexcept {
  const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(float);
  for (float* T::*field : fields) std::memcpy(dst->*field, src->*field, bytes);
}

}  // namespace tembra_state

#endif  // TEMBRA_STATE_COPY_H
