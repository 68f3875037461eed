#pragma once
// Which form of the fast kernels runs: decided once per process from what
// the processor and the operating system support, then the same for every
// call from every thread. Each kernel keeps a plain form that every build
// has; the wider forms exist only in x86-64 builds made by GCC or clang
// (not the portable one) and run only where the processor has their
// instructions, so a binary built for the 2003 baseline still uses AVX2 or
// AVX-512 where they exist.

#include <span>

// The x86-64 forms are compiled into the build with per-function target
// attributes, never with flags for the whole build. Windows builds keep to
// the plain and SSE2 forms: GCC for 64-bit Windows does not align the stack
// for 32- and 64-byte vectors it spills (GCC bug 54412), so an AVX form
// could fault on an aligned move.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32) && !defined(EDGESEG_PLAIN_FORMS_ONLY)
#define EDGESEG_HAS_X86_FORMS 1
#else
#define EDGESEG_HAS_X86_FORMS 0
#endif

#if EDGESEG_HAS_X86_FORMS
#include <immintrin.h>
// The instructions each x86-64 form may use, as function attributes. A
// helper that such a function inlines and that uses them carries the same
// attribute; a plain helper may be inlined into any of them.
#define EDGESEG_TARGET_SSE41 __attribute__((target("ssse3,sse4.1,popcnt")))
#define EDGESEG_TARGET_AVX2 __attribute__((target("ssse3,sse4.1,popcnt,avx2,bmi,bmi2")))
#define EDGESEG_TARGET_AVX512 __attribute__((target("ssse3,sse4.1,popcnt,avx2,bmi,bmi2,avx512f,avx512bw")))
#define EDGESEG_TARGET_AVX512_VBMI \
  __attribute__((target("ssse3,sse4.1,popcnt,avx2,bmi,bmi2,avx512f,avx512bw,avx512vbmi,avx512vbmi2")))
// GCC 12's AVX-512 headers start the unmasked forms of some intrinsics from
// an undefined register that it then reports as maybe uninitialized: the
// AVX-512 forms stand between these two.
#if defined(__clang__)
#define EDGESEG_BEGIN_AVX512_FORMS
#define EDGESEG_END_AVX512_FORMS
#else
#define EDGESEG_BEGIN_AVX512_FORMS \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define EDGESEG_END_AVX512_FORMS _Pragma("GCC diagnostic pop")
#endif
#endif

namespace edgeseg {

// Ordered from narrowest to widest; each x86-64 form needs the instructions
// of the one before it too.
enum class Form {
  kPlain,   // no intrinsics: every build, every processor
  kSse2,    // the x86-64 baseline
  kSse41,   // SSSE3, SSE4.1 and POPCNT
  kAvx2,    // AVX2 with BMI1, BMI2 and POPCNT
  kAvx512,  // AVX-512 F, BW, VBMI and VBMI2 with the AVX2 form's set
};

// Every form this build holds, narrowest first.
std::span<const Form> BuiltForms();

// The form's name as the tests and edgeseg_forced spell it: plain, sse2,
// sse4.1, avx2, avx512.
const char* FormName(Form form);

// True when this build holds the form and the processor and the operating
// system run its instructions.
bool ProcessorRuns(Form form);

// The form the kernels run: the widest that ProcessorRuns, unless a test
// forced one.
Form ChosenForm();

// For tests and edgeseg_forced only: makes ChosenForm return form until
// called again, so that every form can be held to the plain one in one
// process. Throws std::runtime_error for a form the processor does not run.
// Not for use while another thread runs a kernel.
void ForceFormForTesting(Form form);

}  // namespace edgeseg
