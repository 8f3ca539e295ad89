#include "platform/launcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/process.h"
#include "support/records.h"
#include "support/temp_folder.h"

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::read_records;
using testing::recorder_path;
using testing::TempFolder;
using testing::text_of;

// Points the recorder's log into the test's folder for the test's lifetime.
struct RecorderLog {
  fs::path log;
  explicit RecorderLog(const TempFolder& temp, const char* mode = "") : log(temp.root / "record.log") {
    set("MIRRORPDF_RECORD", log.string());
    set("MIRRORPDF_RECORD_MODE", mode);
  }
  ~RecorderLog() { set("MIRRORPDF_RECORD_MODE", ""); }
  static void set(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
  }
};

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TEST(Launcher, PassesQuotedArgumentsExactlyAndWaits) {
  TempFolder temp;
  RecorderLog recording(temp, "slow");
  const fs::path source = temp.root / "in put.html";
  const fs::path target = temp.root / "out put.pdf";

  const auto started = std::chrono::steady_clock::now();
  const std::u16string parameters = quote_argument(text_of(source)) + u" " + quote_argument(text_of(target));
  EXPECT_EQ(launch_program(recorder_path(), parameters, u"", LAUNCH_WAIT | LAUNCH_HIDE), 1);
  // The slow recorder writes its target only after a pause: waiting means it
  // is there now.
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
  EXPECT_EQ(testing::read_file(target), "converted " + utf8_of(source));

  const auto runs = read_records(recording.log);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].arguments, (std::vector<std::string>{utf8_of(source), utf8_of(target)}));
#ifdef _WIN32
  EXPECT_EQ(runs[0].fields.at("show"), "0");  // SW_HIDE
#else
  EXPECT_EQ(runs[0].fields.at("own_session"), "1");
  EXPECT_EQ(runs[0].fields.at("stdout_null"), "1");
#endif
}

TEST(Launcher, EmptyParametersGiveNoArguments) {
  TempFolder temp;
  RecorderLog recording(temp);
  EXPECT_EQ(launch_program(recorder_path(), u"", u"", LAUNCH_WAIT), 1);
  const auto runs = read_records(recording.log);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].arguments.empty());
}

TEST(Launcher, WorkingFolderIsTheChildsCurrentFolder) {
  TempFolder temp;
  RecorderLog recording(temp);
  fs::create_directory(temp.root / "work here");
  EXPECT_EQ(launch_program(recorder_path(), u"", text_of(temp.root / "work here"), LAUNCH_WAIT), 1);
  const auto runs = read_records(recording.log);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(fs::path(runs[0].fields.at("cwd")), temp.root / "work here");
}

TEST(Launcher, ExitStatusAndCrashStillCountAsStarted) {
  for (const char* mode : {"exit7", "crash"}) {
    TempFolder temp;
    RecorderLog recording(temp, mode);
    EXPECT_EQ(launch_program(recorder_path(), u"", u"", LAUNCH_WAIT | LAUNCH_HIDE), 1) << mode;
    EXPECT_EQ(read_records(recording.log).size(), 1u) << mode;
  }
}

TEST(Launcher, MissingProgramGivesZero) {
  TempFolder temp;
  EXPECT_EQ(launch_program(text_of(temp.root / "absent"), u"", u"", LAUNCH_WAIT | LAUNCH_HIDE), 0);
  EXPECT_EQ(launch_program(u"", u"", u"", LAUNCH_WAIT | LAUNCH_HIDE), 0);
}

#ifndef _WIN32
TEST(Launcher, PosixNotExecutableGivesZeroAndScriptWithoutInterpreterRunsInSh) {
  TempFolder temp;
  const fs::path plain = temp.root / "plain";
  testing::write_file(plain, "touch ran\n");
  EXPECT_EQ(launch_program(text_of(plain), u"", text_of(temp.root), LAUNCH_WAIT | LAUNCH_HIDE), 0);
  EXPECT_FALSE(fs::exists(temp.root / "ran"));

  fs::permissions(plain, fs::perms::owner_all);
  const fs::path marker = temp.root / "it's \"ran\"";
  testing::write_file(plain, "printf '%s' \"$1\" > \"$2\"\n");
  EXPECT_EQ(launch_program(text_of(plain), quote_argument(u"$(no) `run`") + u" " + quote_argument(text_of(marker)),
                           u"", LAUNCH_WAIT | LAUNCH_HIDE),
            1);
  EXPECT_EQ(testing::read_file(marker), "$(no) `run`");
}
#endif

}  // namespace
}  // namespace mirrorpdf
