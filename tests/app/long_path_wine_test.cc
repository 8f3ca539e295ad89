// The Windows tool on a tree deeper than MAX_PATH, and what Wine's relay
// trace shows of its calls: Wine itself takes long plain paths and shows no
// error boxes, so only the calls tell whether Windows would have refused one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/tool_run.h"
#include "support/wine_host.h"

namespace mirrorpdf::testing {
namespace {

namespace fs = std::filesystem;

// The limits Windows puts on plain paths, in code units.
constexpr std::size_t PATH_LIMIT = 259;        // files, folders opened, searches
constexpr std::size_t NEW_FOLDER_LIMIT = 247;  // a folder to be created
constexpr std::uint64_t CREATE_DEFAULT_ERROR_MODE_FLAG = 0x04000000;

// Below pb: a first folder whose target folder pb2\... is 250 characters
// long (past the limit for making it, within the one for opening it), then
// folders of 100 characters until the deepest page lies past 600.
std::string deep_folder(const Site& site) {
  const std::size_t target_root = site.tool.u16string().size() + 5;  // "\pb2\"
  std::string relative(250 - target_root, 'a');
  for (char letter = 'b'; site.tool.u16string().size() + 4 + relative.size() <= 600; ++letter)
    relative += "/" + std::string(100, letter);
  return relative;
}

std::vector<PageCase> deep_tree(const Site& site) {
  const std::string deep = deep_folder(site);
  const std::string first = deep.substr(0, deep.find('/'));
  return {
      {"top.html", "top.pdf"},
      {first + "/first.htm", first + "/first.pdf"},
      {deep + "/deepest.HTML", deep + "/deepest.pdf"},
      {deep + "/not a page.txt", ""},
  };
}

TEST(LongPaths, TreePastMaxPathIsConvertedWithTheExactPaths) {
  Site site;
  const std::vector<PageCase> cases = deep_tree(site);
  ASSERT_GT(fs::path(site.source_text(cases[2].source)).u16string().size(), 600u);
  expect_handed_over(site, cases);
}

// One call of a kernel function in the relay trace.
struct Call {
  std::string process;
  std::string function;
  std::string arguments;  // as the trace shows them
};

std::vector<Call> calls_in(const std::string& trace) {
  static const std::regex call(
      R"(^([0-9a-f]+):[0-9a-f]+:Call (?:KERNEL32|KERNELBASE)\.(\w+)\((.*)\) ret=[0-9a-f]+$)");
  std::vector<Call> calls;
  std::istringstream lines(trace);
  std::string line;
  std::smatch match;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_match(line, match, call)) calls.push_back({match[1], match[2], match[3]});
  }
  return calls;
}

// The first argument as a text: its length in code units, whether the trace
// cut it short ("..." after the closing quote), and its opening characters.
struct ShownText {
  bool present = false;
  std::size_t length = 0;
  bool cut = false;
  std::u16string text;
};

ShownText first_text(const std::string& arguments) {
  ShownText shown;
  const std::size_t open = arguments.find("L\"");
  const std::size_t comma = arguments.find(',');
  if (open == std::string::npos || (comma != std::string::npos && comma < open)) return shown;
  shown.present = true;
  std::size_t at = open + 2;
  while (at < arguments.size() && arguments[at] != '"') {
    char16_t unit = static_cast<unsigned char>(arguments[at]);
    // Wine writes '\\', '\"', '\n', '\r', '\t', and every other unit
    // outside printable ASCII as '\' and four hex digits.
    if (arguments[at] == '\\' && at + 1 < arguments.size()) {
      const char escaped = arguments[++at];
      if (std::isxdigit(static_cast<unsigned char>(escaped)) && at + 4 <= arguments.size()) {
        unit = static_cast<char16_t>(std::stoul(arguments.substr(at, 4), nullptr, 16));
        at += 3;
      } else {
        unit = escaped == 'n' ? u'\n' : escaped == 'r' ? u'\r' : escaped == 't' ? u'\t' : escaped;
      }
    }
    shown.text += unit;
    ++at;
  }
  shown.length = shown.text.size();
  shown.cut = arguments.compare(at, 4, "\"...") == 0;
  return shown;
}

bool absolute_plain(const std::u16string& path) {
  const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
  const bool share = path.size() >= 3 && (path[0] == u'\\' || path[0] == u'/') &&
                     (path[1] == u'\\' || path[1] == u'/') && path[2] != u'?' && path[2] != u'.';
  return drive || share;
}

const std::vector<std::string> FILE_FUNCTIONS = {
    "FindFirstFileW",     "FindFirstFileExW", "GetFileAttributesW",  "GetFileAttributesExW",
    "CreateDirectoryW",   "CreateFileW",      "GetDriveTypeW",       "RemoveDirectoryW",
    "DeleteFileW",        "MoveFileExW",      "LoadLibraryW",        "LoadLibraryExW",
    "CreateDirectoryExW", "GetFullPathNameW", "SetCurrentDirectoryW"};

bool is_file_function(const std::string& name) {
  return std::find(FILE_FUNCTIONS.begin(), FILE_FUNCTIONS.end(), name) != FILE_FUNCTIONS.end();
}

TEST(LongPaths, RelayShowsNoPlainPathPastItsLimitAndHardeningFirst) {
  if (!wine_host_available()) GTEST_SKIP() << "the relay trace is Wine's";
  Site site;
  const std::vector<PageCase> cases = deep_tree(site);
  for (const PageCase& c : cases) site.page(c.source);
  // Wine writes its trace to the error stream of the machine beneath, which
  // a Windows pipe does not see: the tool is started from there, as
  // Site::launch starts it, its trace written into the test's folder. Only
  // inside the sandbox this whole program runs in.
  const fs::path own = fs::canonical(site.temp.root);
  ASSERT_EQ(run_on_host({"/bin/sh", "-c", "! test -w / && ! test -w /usr"}), 0)
      << "not in a sandbox (run it through cmake/wine-run), so the tool is not started";
  const fs::path trace_file = own / "relay.txt";
  const std::string start =
      "cd \"$1\" && LC_ALL=C.UTF-8 MIRRORPDF_RECORD=\"$2\" MIRRORPDF_RECORD_ROOT=\"$3\" "
      "WINEDEBUG=+relay,+pid "
      "exec timeout 60 \"$WINELOADER\" \"$4\" 2>\"$5\"";
  const int status =
      run_on_host({"/bin/sh", "-c", start, "sh", host_path_of(site.elsewhere), utf8_of(site.log),
                   utf8_of(own), utf8_of(site.tool / TOOL_NAME), host_path_of(trace_file)});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_records(site.log).size(), 3u);
  const std::string trace = read_file(trace_file);

  // The tool is the process that starts the converter; the converters, which
  // inherit the trace, are others.
  const std::vector<Call> all = calls_in(trace);
  std::string tool;
  for (const Call& call : all)
    if (call.function == "CreateProcessW" && call.arguments.find("wkhtmltopdf.exe") != std::string::npos)
      tool = call.process;
  ASSERT_FALSE(tool.empty()) << "no converter start in a trace of " << trace.size() << " bytes";
  std::vector<Call> calls;
  std::copy_if(all.begin(), all.end(), std::back_inserter(calls),
               [&](const Call& call) { return call.process == tool; });

  // Error mode and DLL search are set before the first file is touched.
  const auto first_file_call = std::find_if(calls.begin(), calls.end(), [](const Call& call) {
    return is_file_function(call.function) || call.function == "CreateProcessW";
  });
  const auto error_mode = std::find_if(calls.begin(), calls.end(), [](const Call& call) {
    return call.function == "SetErrorMode" && call.arguments == "00008003";
  });
  const auto dll_search = std::find_if(calls.begin(), calls.end(), [](const Call& call) {
    return (call.function == "SetDefaultDllDirectories" && call.arguments == "00000800") ||
           (call.function == "SetDllDirectoryW" && call.arguments.ends_with(" L\"\""));
  });
  EXPECT_LT(error_mode - calls.begin(), first_file_call - calls.begin()) << "error mode not set first";
  EXPECT_LT(dll_search - calls.begin(), first_file_call - calls.begin()) << "DLL search not restricted first";

  // Every path past its limit in extended form. A text the trace cut short is
  // long: it is taken as past the limit unless it is in extended form.
  std::size_t extended = 0;
  for (const Call& call : calls) {
    if (!is_file_function(call.function)) continue;
    const ShownText path = first_text(call.arguments);
    if (!path.present) continue;
    if (path.text.starts_with(u"\\\\?\\")) {
      ++extended;
      continue;
    }
    if (!absolute_plain(path.text)) continue;
    const std::size_t limit = call.function.starts_with("CreateDirectory") ? NEW_FOLDER_LIMIT : PATH_LIMIT;
    EXPECT_TRUE(!path.cut && path.length <= limit)
        << call.function << " got a plain path of " << path.length << (path.cut ? "+ (cut)" : "")
        << " characters: " << call.arguments.substr(0, 120);
  }
  // The deep folders were reached through the extended form.
  EXPECT_GT(extended, 0u);

  // Each converter inherits the error mode.
  std::size_t starts = 0;
  static const std::regex create(
      R"(^[0-9a-f]+,[0-9a-f]+ L".*"(?:\.\.\.)?,[0-9a-f]+,[0-9a-f]+,[0-9a-f]+,([0-9a-f]+),)");
  for (const Call& call : calls) {
    if (call.function != "CreateProcessW") continue;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(call.arguments, match, create)) << call.arguments;
    const std::uint64_t flags = std::stoull(match[1], nullptr, 16) & 0xffffffff;
    EXPECT_EQ(flags & CREATE_DEFAULT_ERROR_MODE_FLAG, 0u) << call.arguments;
    ++starts;
  }
  EXPECT_EQ(starts, 3u);
}

}  // namespace
}  // namespace mirrorpdf::testing
