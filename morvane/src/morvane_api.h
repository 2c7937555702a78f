/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Export and exception markers shared by the headers of the morvane plug-in. */
#ifndef MORVANE_API_H
#define MORVANE_API_H

#if defined(__GNUC__)
#define MORVANE_API __attribute__((visibility("default")))
#else
#define MORVANE_API
#endif

/* Every exported function is noexcept in C++: nothing is thrown across
 * the C interface. */
#ifdef __cplusplus
#define MORVANE_NOEXCEPT noexcept
#else
#define MORVANE_NOEXCEPT
#endif

#endif /* MORVANE_API_H */
