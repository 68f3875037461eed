#pragma once
// Which vector instructions the compiler may use, for the fast forms of the
// analysis steps. Every fast form has a plain form beside it that every
// build compiles, and the tests hold the two to the same results; this
// switch only picks which one the steps call. Nothing here allocates,
// prints or touches the platform.

// The portable build (EDGESEG_PLAIN_FORMS_ONLY) uses no intrinsics at all.
#if defined(__SSE2__) && !defined(EDGESEG_PLAIN_FORMS_ONLY)
#include <emmintrin.h>
#define EDGESEG_HAS_SSE2 1
#else
#define EDGESEG_HAS_SSE2 0
#endif
