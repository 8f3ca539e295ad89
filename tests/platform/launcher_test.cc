#include "platform/launcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/process.h"
#include "support/records.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>
#endif

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
    set("MIRRORPDF_RECORD_ROOT", temp.root.string());
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

#ifdef _WIN32
// What the started recorder saw as its command line and which file it was.
struct Started {
  std::string command_line;
  std::string program;
};

Started only_run(const fs::path& log) {
  const auto runs = read_records(log);
  EXPECT_EQ(runs.size(), 1u);
  if (runs.size() != 1) return {};
  return {runs[0].fields.at("cmdline"), runs[0].fields.at("program")};
}

// A copy of the recorder at path, so the path can hold whatever a case needs.
void place_recorder(const fs::path& path) {
  fs::create_directories(path.parent_path());
  fs::copy_file(fs::path(recorder_path()), path);
}

TEST(Launcher, WindowsProgramIsQuotedOnceWhateverItsPathHolds) {
  TempFolder temp;
  RecorderLog recording(temp);
  // The decoy catches a command line split at the first space: unquoted,
  // "...\Program Files\real.exe" starts "...\Program.exe" first.
  place_recorder(temp.root / "Program.exe");
  const fs::path real = temp.root / "Program Files" / "real.exe";
  place_recorder(real);
  const std::string real_text = utf8_of(real);
  const std::u16string parameters = u"\"one\" \"t w o\"";

  struct Case {
    const char* label;
    std::u16string program;
    std::string expected_command_line;
  };
  const Case cases[] = {
      {"with spaces", text_of(real), "\"" + real_text + "\" \"one\" \"t w o\""},
      {"already quoted", u"\"" + text_of(real) + u"\"", "\"" + real_text + "\" \"one\" \"t w o\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(recording.log);
    EXPECT_EQ(launch_program(c.program, parameters, u"", LAUNCH_WAIT | LAUNCH_HIDE), 1);
    const Started started = only_run(recording.log);
    EXPECT_EQ(fs::path(std::u8string(started.program.begin(), started.program.end())), real);
    EXPECT_EQ(started.command_line, c.expected_command_line);
  }

  fs::remove(recording.log);
  EXPECT_EQ(launch_program(text_of(real), u"", u"", LAUNCH_WAIT), 1);
  EXPECT_EQ(only_run(recording.log).command_line, "\"" + real_text + "\"");  // no trailing space
}

TEST(Launcher, WindowsShowStateAndWaitFollowTheFlags) {
  struct Case {
    LaunchFlags flags;
    const char* show;  // SW_HIDE 0, SW_SHOWNORMAL 1
  };
  for (const Case c : {Case{LAUNCH_WAIT | LAUNCH_HIDE, "0"}, Case{LAUNCH_WAIT, "1"}}) {
    SCOPED_TRACE(c.flags);
    TempFolder temp;
    RecorderLog recording(temp);
    EXPECT_EQ(launch_program(recorder_path(), u"", u"", c.flags), 1);
    const auto runs = read_records(recording.log);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].fields.at("show"), c.show);
    EXPECT_EQ(runs[0].fields.at("startflags"), std::to_string(STARTF_USESHOWWINDOW));
  }
}

TEST(Launcher, WindowsWithoutWaitReturnsWhileTheProgramRuns) {
  TempFolder temp;
  RecorderLog recording(temp, "slow");
  const fs::path target = temp.root / "out.pdf";
  const std::u16string parameters = quote_argument(u"in.html") + u" " + quote_argument(text_of(target));
  EXPECT_EQ(launch_program(recorder_path(), parameters, u"", LAUNCH_HIDE), 1);
  // The slow recorder writes its target only after a pause.
  EXPECT_FALSE(fs::exists(target));
  for (int i = 0; i < 200 && testing::read_file(target).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(testing::read_file(target), "converted in.html");
  for (int i = 0; i < 200 && fs::exists(recording.log.string() + ".busy"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(Launcher, WindowsMissingProgramFailsQuietlyThroughTheShell) {
  TempFolder temp;
  for (const std::u16string& program :
       {text_of(temp.root / "absent.exe"), text_of(temp.root / "no such folder" / "absent.exe"),
        u"\"" + text_of(temp.root / "absent.exe") + u"\"", std::u16string(u"absent-everywhere")}) {
    SCOPED_TRACE(fs::path(program).string());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(launch_program(program, u"\"a\"", u"", LAUNCH_WAIT | LAUNCH_HIDE), 0);
    // A dialog would wait for a click that never comes.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  }
}

// A file type the system does not start but the shell opens with the
// recorder, registered while the test runs.
struct RecorderFileType {
  static constexpr const wchar_t* EXTENSION_KEY = L".mirrorpdftest";
  static constexpr const wchar_t* TYPE_KEY = L"mirrorpdftest.file";
  bool ready = false;
  RecorderFileType() {
    const std::wstring command = L"\"" + fs::path(recorder_path()).wstring() + L"\" \"%1\" %*";
    ready = set(EXTENSION_KEY, L"mirrorpdftest.file") &&
            set(std::wstring(TYPE_KEY) + L"\\shell\\open\\command", command);
  }
  ~RecorderFileType() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, EXTENSION_KEY);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, TYPE_KEY);
  }
  static bool set(const std::wstring& key_name, const std::wstring& value) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return false;
    const LONG result = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
  }
};

TEST(Launcher, WindowsShellOpensWhatTheSystemCannotStartInTheProgramsFolder) {
  TempFolder temp;
  RecorderLog recording(temp, "slow");
  const RecorderFileType file_type;
  ASSERT_TRUE(file_type.ready);
  const fs::path document = temp.root / "doc folder" / "page.mirrorpdftest";
  testing::write_file(document, "not a program");
  const fs::path target = temp.root / "out.pdf";

  const std::u16string parameters = quote_argument(text_of(target));
  EXPECT_EQ(launch_program(text_of(document), parameters, u"", LAUNCH_WAIT | LAUNCH_HIDE), 1);
  // Waited for: the slow recorder has written the target.
  EXPECT_EQ(testing::read_file(target), "converted " + utf8_of(document));
  const auto runs = read_records(recording.log);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].arguments, (std::vector<std::string>{utf8_of(document), utf8_of(target)}));
  EXPECT_EQ(fs::path(runs[0].fields.at("cwd")), temp.root / "doc folder");  // the program's own folder
  EXPECT_EQ(runs[0].fields.at("show"), "0");

  // A working folder given is the one used.
  fs::remove(recording.log);
  fs::create_directory(temp.root / "given");
  EXPECT_EQ(launch_program(text_of(document), parameters, text_of(temp.root / "given"), LAUNCH_WAIT), 1);
  const auto given = read_records(recording.log);
  ASSERT_EQ(given.size(), 1u);
  EXPECT_EQ(fs::path(given[0].fields.at("cwd")), temp.root / "given");
}
#endif

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
  EXPECT_EQ(
      launch_program(text_of(plain), quote_argument(u"$(no) `run`") + u" " + quote_argument(text_of(marker)),
                     u"", LAUNCH_WAIT | LAUNCH_HIDE),
      1);
  EXPECT_EQ(testing::read_file(marker), "$(no) `run`");
}
#endif

}  // namespace
}  // namespace mirrorpdf
