// The built tool as a user runs it: copied into a folder of its own with a
// tree beside it, started from another current folder, with the recording
// stand-in as its converter. Shared by the end-to-end suites.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/records.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace mirrorpdf::testing {

// The tool's own folder has a name that needs quoting on every platform.
#ifdef _WIN32
inline constexpr const char* TOOL_FOLDER = "the tool \xc3\xbc";
inline constexpr char SEPARATOR = '\\';
inline constexpr const char* TOOL_NAME = "mirrorpdf.exe";
inline constexpr const char* CONVERTER_NAME = "bin/wkhtmltopdf.exe";
#else
inline constexpr const char* TOOL_FOLDER = "the \"tool\" \\ it's \xc3\xbc";
inline constexpr char SEPARATOR = '/';
inline constexpr const char* TOOL_NAME = "mirrorpdf";
inline constexpr const char* CONVERTER_NAME = "bin/wkhtmltopdf";
#endif

// Paths as the recorder logs them: UTF-8 on Windows, the bytes on POSIX.
std::string utf8_of(const std::filesystem::path& path);
std::filesystem::path path_of(const std::string& utf8);

// A relative path written with '/' as the platform writes it.
std::string native(std::string relative);

// Every entry below root, links not followed: folders end with '/', regular
// files carry their content, anything else is marked as such. The subtree
// named skip (relative, '/'-separated) is left out.
std::map<std::string, std::string> snapshot(const std::filesystem::path& root, const std::string& skip = "");

std::vector<std::string> names_in(const std::map<std::string, std::string>& entries);

// The folder beside the tool, the run, and what the converter saw.
struct Site {
  TempFolder temp;
  std::filesystem::path tool;       // holds the tool, bin, pb and pb2
  std::filesystem::path elsewhere;  // the current folder it is started from
  std::filesystem::path log;
  // Longer than any run takes, so that only a run that hangs reaches it.
  std::chrono::milliseconds time_limit = std::chrono::seconds(10);
  // A program and its arguments the tool is started through, inside the
  // sandbox (such as env with a library to preload into the tool alone).
  std::vector<std::string> wrapper;

  explicit Site(bool with_converter = true);

  std::filesystem::path pb(const std::string& relative) const;
  std::filesystem::path pb2(const std::string& relative) const;
  void page(const std::string& relative) const;

  // The absolute paths the converter is to receive for a page.
  std::string source_text(const std::string& relative) const;
  std::string target_text(const std::string& relative) const;

  // Runs the tool with the recorder in the given mode, confined to the
  // test's folder, and returns what it did, checking only that no converter
  // was handed a path outside that folder.
  ProgramRun launch(const std::string& mode = "", const std::vector<std::string>& arguments = {}) const;

  // Runs the tool and checks what holds for every run: it exits 0, prints
  // nothing, changes nothing outside pb2, and inside pb2 no file but the
  // targets it handed over is written, changed or removed. Every source
  // handed over was a regular file when its converter started, and no
  // converter got a descriptor above the standard three.
  std::vector<RecordedRun> run(const std::string& mode = "", const std::vector<std::string>& arguments = {});
};

// Fails the test for every path outside the test's folder that the
// recorder logged (and left alone).
void expect_nothing_outside(const std::filesystem::path& log);

// Exit status 0, nothing printed, ended in time.
void expect_quiet_exit(const ProgramRun& program);

// The converter runs as pairs (source, target), sorted: the listing order is
// the platform's.
std::vector<std::vector<std::string>> argument_lists(const std::vector<RecordedRun>& runs);

struct PageCase {
  std::string source;  // below pb
  std::string target;  // below pb2; empty when the entry is passed over
};

// Lays the pages out (those not there yet), runs, and checks that exactly the
// pages were handed over, each once with its two paths and no overlap, and
// that every folder made in pb2 lies on the way to one of their targets;
// returns the runs.
std::vector<RecordedRun> expect_handed_over(Site& site, const std::vector<PageCase>& cases,
                                            const std::string& mode = "");

// The same, and each target was written.
void expect_conversions(Site& site, const std::vector<PageCase>& cases, const std::string& mode = "");

}  // namespace mirrorpdf::testing
