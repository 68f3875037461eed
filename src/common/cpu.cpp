#include "common/cpu.h"

#include <array>
#include <atomic>
#include <stdexcept>

#include "common/simd.h"

namespace edgeseg {

namespace {

#if EDGESEG_HAS_X86_FORMS
constexpr std::array kBuilt = {Form::kPlain, Form::kSse2, Form::kSse41, Form::kAvx2, Form::kAvx512};
#elif EDGESEG_HAS_SSE2
constexpr std::array kBuilt = {Form::kPlain, Form::kSse2};  // the baseline of every x86-64 processor
#else
constexpr std::array kBuilt = {Form::kPlain};
#endif

// What the processor runs. GCC's libgcc and clang's compiler-rt report AVX
// and AVX-512 features only when XGETBV shows that the operating system
// saves the wide registers (and the mask registers) on a context switch, so
// a processor feature that the system leaves off reads as absent; that is
// the check this relies on. __builtin_cpu_init is called first because a
// static initialiser may ask before the runtime's own constructor has run.
// No form uses PEXT or PDEP, which are slow microcode on AMD processors
// before Zen 3, so no vendor or family enters the choice. The AVX-512 form
// needs VBMI and VBMI2 for the reader and the label text; a processor with
// AVX-512 F and BW alone (Skylake-SP, Cascade Lake) runs the AVX2 form of
// every kernel.
bool Supports(Form form) {
#if EDGESEG_HAS_X86_FORMS
  __builtin_cpu_init();
  switch (form) {
    case Form::kPlain:
    case Form::kSse2:
      return true;
    case Form::kSse41:
      return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") &&
             __builtin_cpu_supports("popcnt");
    case Form::kAvx2:
      return Supports(Form::kSse41) && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
             __builtin_cpu_supports("bmi2");
    case Form::kAvx512:
      return Supports(Form::kAvx2) && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2");
  }
  return false;
#else
  return form == Form::kPlain || (EDGESEG_HAS_SSE2 && form == Form::kSse2);
#endif
}

Form Widest() {
  Form widest = Form::kPlain;
  for (const Form form : kBuilt) {
    if (Supports(form)) widest = form;
  }
  return widest;
}

// -1 while no test forces a form.
std::atomic<int> forced{-1};

}  // namespace

std::span<const Form> BuiltForms() { return kBuilt; }

const char* FormName(Form form) {
  switch (form) {
    case Form::kPlain: return "plain";
    case Form::kSse2: return "sse2";
    case Form::kSse41: return "sse4.1";
    case Form::kAvx2: return "avx2";
    case Form::kAvx512: return "avx512";
  }
  return "unknown";
}

bool ProcessorRuns(Form form) {
  for (const Form built : kBuilt) {
    if (built == form) return Supports(form);
  }
  return false;
}

Form ChosenForm() {
  // Decided on the first call, once, however many threads make it.
  static const Form detected = Widest();
  const int form = forced.load(std::memory_order_relaxed);
  return form < 0 ? detected : static_cast<Form>(form);
}

void ForceFormForTesting(Form form) {
  if (!ProcessorRuns(form)) throw std::runtime_error("form not run by this processor");
  forced.store(static_cast<int>(form), std::memory_order_relaxed);
}

}  // namespace edgeseg
