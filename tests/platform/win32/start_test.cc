#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"

namespace mirrorpdf::testing {
namespace {

ProgramRun probe(const std::string& mode) {
  return run_program(MIRRORPDF_START_PROBE, {mode}, std::filesystem::current_path());
}

TEST(Start, ErrorModeShowsNoBoxOfTheSystems) {
  const ProgramRun run = probe("error-mode");
  EXPECT_EQ(run.exit_code, 0);
  // SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX
  EXPECT_EQ(run.output, "8003");
}

TEST(Start, TerminateAndAbortEndQuietlyWithZero) {
  for (const std::string mode : {"terminate", "abort", "throw"}) {
    const ProgramRun run = probe(mode);
    EXPECT_TRUE(run.started) << mode;
    EXPECT_EQ(run.exit_code, 0) << mode;
    EXPECT_EQ(run.output, "") << mode;
    EXPECT_EQ(run.errors, "") << mode;
  }
  EXPECT_EQ(probe("none").exit_code, 7);  // the probe itself ends as asked
}

}  // namespace
}  // namespace mirrorpdf::testing
