// SPDX-License-Identifier: LGPL-2.1-or-later
// The C translation unit c_api.c includes every public header of libtembra.
#include <gtest/gtest.h>

extern "C" int tembra_c_api_roundtrip(void);

TEST(CApi, HeadersCompileAsCAndEngineRunsFromC) { EXPECT_EQ(tembra_c_api_roundtrip(), 1); }
