/* SPDX-License-Identifier: LGPL-2.1-or-later */
// TEMBRA_TEST_SANITIZED is 1 under AddressSanitizer or ThreadSanitizer,
// which own the C allocator and reserve the address space themselves: the
// tests that replace the allocator, read its statistics or limit the address
// space are left out or skipped there.
#ifndef TEMBRA_TESTS_SANITIZED_H
#define TEMBRA_TESTS_SANITIZED_H

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TEMBRA_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TEMBRA_TEST_SANITIZED 1
#endif
#endif
#ifndef TEMBRA_TEST_SANITIZED
#define TEMBRA_TEST_SANITIZED 0
#endif

#endif  // TEMBRA_TESTS_SANITIZED_H
