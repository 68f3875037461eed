#pragma once
// The fixture of the tests that hold every form of a fast kernel to the
// plain one (src/common/cpu.h).

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/cpu.h"

namespace test {

using edgeseg::Form;
using edgeseg::FormName;

// Whether Linux lists every feature the form needs in /proc/cpuinfo.
inline bool CpuinfoListsFeaturesOf(Form form) {
  static const std::map<Form, std::vector<std::string>> needs = {
      {Form::kSse41, {"ssse3", "sse4_1", "popcnt"}},
      {Form::kAvx2, {"ssse3", "sse4_1", "popcnt", "avx2", "bmi1", "bmi2"}},
      {Form::kAvx512, {"ssse3", "sse4_1", "popcnt", "avx2", "bmi1", "bmi2", "avx512f", "avx512bw",
                        "avx512vbmi", "avx512_vbmi2"}}};
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {}
  if (line.empty() || !needs.contains(form)) return false;
  std::istringstream words(line.substr(line.find(':') + 1) + " ");
  std::set<std::string> flags{std::istream_iterator<std::string>(words), {}};
  return std::ranges::all_of(needs.at(form), [&](const std::string& f) { return flags.contains(f); });
}

// Each form the build holds, forced for the whole test and held to the
// plain kernels and the plain byte loops. A form the processor lacks is
// skipped by name; one whose features Linux lists but the dispatch does not
// run fails, so that a broken detection cannot pass as skipped tests.
class ForcedForm : public testing::TestWithParam<Form> {
 protected:
  void SetUp() override {
    if (!edgeseg::ProcessorRuns(GetParam())) {
      ASSERT_FALSE(CpuinfoListsFeaturesOf(GetParam())) << FormName(GetParam()) << " has its features but does not run";
      GTEST_SKIP() << "form " << FormName(GetParam()) << " not run: the processor lacks it";
    }
    before_ = edgeseg::ChosenForm();
    edgeseg::ForceFormForTesting(GetParam());
  }
  void TearDown() override { edgeseg::ForceFormForTesting(before_); }
  Form before_ = Form::kPlain;
};

// The name of a form in a test's name: sse4_1 for sse4.1.
inline std::string FormTestName(const testing::TestParamInfo<Form>& info) {
  std::string name = FormName(info.param);
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

#define EDGESEG_INSTANTIATE_FOR_EACH_FORM(Suite)                                                     \
  INSTANTIATE_TEST_SUITE_P(Forms, Suite,                                                          \
                           testing::ValuesIn(edgeseg::BuiltForms().begin(), edgeseg::BuiltForms().end()), \
                           test::FormTestName)

}  // namespace test
