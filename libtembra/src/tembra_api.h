/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Export and exception markers shared by the public headers of libtembra. */
#ifndef TEMBRA_API_H
#define TEMBRA_API_H

#if defined(__GNUC__)
#define TEMBRA_API __attribute__((visibility("default")))
#else
#define TEMBRA_API
#endif

/* Every exported function is noexcept in C++: nothing is thrown across
 * the C interface. */
#ifdef __cplusplus
#define TEMBRA_NOEXCEPT noexcept
#else
#define TEMBRA_NOEXCEPT
#endif

#endif /* TEMBRA_API_H */
