// The host runner: every behaviour check against the simulated Windows, in
// each family and language, as one GoogleTest case each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "behaviour/check.h"
#include "simwin/machine.h"

void report_failure(const char *file, int line, const char *message) { ADD_FAILURE_AT(file, line) << message; }
void report_broken(const char *, int) {}  // broken() never holds here
void report_trace(const char *) {}

namespace {

struct Case {
  int check;
  bool nine_x;
  bool japanese;
  bool western_code_page;
};

// Each family in English and in Japanese, and a Japanese interface over a
// western code page on the NT family (a language pack; 9x has none).
std::vector<Case> all_cases() {
  std::vector<Case> cases;
  for (int i = 0; i < check_count(); ++i) {
    for (bool nine_x : {false, true})
      for (bool japanese : {false, true}) cases.push_back(Case{i, nine_x, japanese, false});
    cases.push_back(Case{i, false, true, true});
  }
  return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case> &info) {
  const Case &c = info.param;
  return std::string(check_at(c.check).name) + (c.nine_x ? "_9x" : "_nt") +
         (c.japanese ? (c.western_code_page ? "_jaui" : "_ja") : "_en");
}

// The tallies of every case, shown once at the end.
struct Summary : ::testing::Environment {
  void TearDown() override {
    std::printf("behaviour checks on the simulated Windows: %d functions in 5 modes; %d checks passed, %d failed\n",
                check_count(), tally().passed, tally().failed);
  }
};
::testing::Environment *const g_summary = ::testing::AddGlobalTestEnvironment(new Summary);

class Behaviour : public ::testing::TestWithParam<Case> {};

TEST_P(Behaviour, AsOnWindows) {
  const Check &check = check_at(GetParam().check);
  set_mode(GetParam().nine_x, GetParam().japanese, GetParam().western_code_page);
  set_current_check(check.name);
  begin_machine(check.name);
  check.run();
  end_machine();
  // What the checks did must be what a careful program does.
  EXPECT_TRUE(sim::faults().empty()) << sim::faults().front();
  EXPECT_EQ(0, sim::open_handles());
  EXPECT_EQ(0, sim::open_keys());
}

INSTANTIATE_TEST_SUITE_P(Sim, Behaviour, ::testing::ValuesIn(all_cases()), case_name);

}  // namespace
