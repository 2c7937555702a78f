/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Export and exception markers shared by the public headers of libquivex. */
#ifndef QUIVEX_API_H
#define QUIVEX_API_H

#if defined(__GNUC__)
#define QUIVEX_API __attribute__((visibility("default")))
#else
#define QUIVEX_API
#endif

/* Every exported function is noexcept in C++: nothing is thrown across
 * the C interface. */
#ifdef __cplusplus
#define QUIVEX_NOEXCEPT noexcept
#else
#define QUIVEX_NOEXCEPT
#endif

#endif /* QUIVEX_API_H */
