#include "app/tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace mirrorpdf::testing {

namespace fs = std::filesystem;

#ifdef _WIN32
std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
#else
std::string utf8_of(const fs::path& path) { return path.string(); }
fs::path path_of(const std::string& bytes) { return fs::path(bytes); }
#endif

std::string native(std::string relative) {
  std::replace(relative.begin(), relative.end(), '/', SEPARATOR);
  return relative;
}

namespace {

// True when folder is the same folder as one of its ancestors up to root:
// Wine shows a host link as a plain folder, so only this tells a link back.
bool leads_back(const fs::path& folder, const fs::path& root) {
  std::error_code error;
  for (fs::path ancestor = folder.parent_path(); !ancestor.empty(); ancestor = ancestor.parent_path()) {
    if (fs::equivalent(folder, ancestor, error)) return true;
    if (ancestor == root || ancestor == ancestor.parent_path()) break;
  }
  return false;
}

}  // namespace

std::map<std::string, std::string> snapshot(const fs::path& root, const std::string& skip) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::string relative = utf8_of(it->path().lexically_relative(root));
    std::replace(relative.begin(), relative.end(), SEPARATOR, '/');
    const fs::file_status status = it->symlink_status();
    if (relative == skip) {
      it.disable_recursion_pending();
    } else if (fs::is_directory(status) && leads_back(it->path(), root)) {
      entries[relative] = "(link)";
      it.disable_recursion_pending();
    } else if (fs::is_directory(status)) {
      entries[relative + "/"] = "";
    } else if (fs::is_regular_file(status)) {
      entries[relative] = read_file(it->path());
    } else {
      entries[relative] = fs::is_symlink(status) ? "(link)" : "(special)";
    }
  }
  return entries;
}

std::vector<std::string> names_in(const std::map<std::string, std::string>& entries) {
  std::vector<std::string> names;
  for (const auto& [name, content] : entries) names.push_back(name);
  return names;
}

Site::Site(bool with_converter) {
  tool = fs::canonical(temp.root) / path_of(TOOL_FOLDER);
  elsewhere = fs::canonical(temp.root) / "elsewhere";
  log = temp.root / "record.log";
  fs::create_directories(tool / "bin");
  fs::copy_file(MIRRORPDF_BINARY, tool / TOOL_NAME);
  if (with_converter) fs::copy_file(fs::path(recorder_path()), tool / CONVERTER_NAME);
  // A tree beside the current folder that the tool must not mistake for
  // its own.
  write_file(elsewhere / "pb" / "decoy.html", "<p>not mine</p>");
}

fs::path Site::pb(const std::string& relative) const { return tool / "pb" / path_of(relative); }
fs::path Site::pb2(const std::string& relative) const { return tool / "pb2" / path_of(relative); }
void Site::page(const std::string& relative) const { write_file(pb(relative), "<p>" + relative + "</p>"); }

std::string Site::source_text(const std::string& relative) const {
  return utf8_of(tool) + SEPARATOR + "pb" + SEPARATOR + native(relative);
}
std::string Site::target_text(const std::string& relative) const {
  return utf8_of(tool) + SEPARATOR + "pb2" + SEPARATOR + native(relative);
}

ProgramRun Site::launch(const std::string& mode, const std::vector<std::string>& arguments) const {
  const fs::path own = fs::canonical(temp.root);
  fs::path program_path = tool / TOOL_NAME;
  std::vector<std::string> program_arguments = arguments;
  if (!wrapper.empty()) {
    program_arguments.insert(program_arguments.begin(), utf8_of(program_path));
    program_arguments.insert(program_arguments.begin(), wrapper.begin() + 1, wrapper.end());
    program_path = path_of(wrapper.front());
  }
  const ProgramRun program = run_confined(program_path, program_arguments, elsewhere, {own},
                                          {{"MIRRORPDF_RECORD", utf8_of(log)},
                                           {"MIRRORPDF_RECORD_MODE", mode},
                                           {"MIRRORPDF_RECORD_ROOT", utf8_of(own)}},
                                          time_limit);
  expect_nothing_outside(log);
  return program;
}

void expect_nothing_outside(const fs::path& log) {
  std::istringstream lines(read_file(log));
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("outside ")) continue;
    std::string path;
    for (std::size_t i = 8; i + 1 < line.size(); i += 2)
      path += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    ADD_FAILURE() << "a converter was to change a path outside the test's folder (left alone): " << path;
  }
}

void expect_quiet_exit(const ProgramRun& program) {
  EXPECT_TRUE(program.started) << program.errors;
  EXPECT_FALSE(program.timed_out);
  EXPECT_EQ(program.exit_code, 0);
  EXPECT_EQ(program.output, "");
  EXPECT_EQ(program.errors, "");
}

namespace {

// The targets' paths below pb2, '/'-separated.
std::set<std::string> relative_targets(const Site& site, const std::vector<std::string>& targets) {
  const std::string root = site.target_text("");
  std::set<std::string> relative;
  for (const std::string& target : targets) {
    if (!target.starts_with(root)) continue;
    std::string path = target.substr(root.size());
    std::replace(path.begin(), path.end(), SEPARATOR, '/');
    relative.insert(path);
  }
  return relative;
}

// Inside pb2 the converter may write the targets it was handed; every other
// file stays as it was.
void expect_only_targets_written(const Site& site, const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after,
                                 const std::vector<RecordedRun>& runs) {
  std::vector<std::string> handed;
  for (const RecordedRun& run : runs)
    if (run.arguments.size() == 2) handed.push_back(run.arguments[1]);
  const std::set<std::string> targets = relative_targets(site, handed);
  for (const auto& [name, content] : before) {
    if (targets.count(name) != 0) continue;
    const auto found = after.find(name);
    EXPECT_TRUE(found != after.end() && found->second == content) << "changed or removed: pb2/" << name;
  }
  for (const auto& [name, content] : after) {
    if (before.count(name) == 0 && !name.ends_with("/")) {
      EXPECT_EQ(targets.count(name), 1u) << "written but not a target: pb2/" << name;
    }
  }
}

}  // namespace

std::vector<RecordedRun> Site::run(const std::string& mode, const std::vector<std::string>& arguments) {
  const auto before = snapshot(tool, "pb2");
  const auto targets_before = snapshot(tool / "pb2");
  expect_quiet_exit(launch(mode, arguments));
  auto after = snapshot(tool, "pb2");
  after.erase("pb2");  // made by the run when it was missing
  EXPECT_EQ(after, before);
  EXPECT_FALSE(fs::exists(elsewhere / "pb2"));
  const auto runs = read_records(log);
  expect_only_targets_written(*this, targets_before, snapshot(tool / "pb2"), runs);
#ifdef _WIN32
  // The whole command line the converter got, exactly: the quoted converter,
  // then the two quoted paths, one space apart.
  const std::string converter = utf8_of(tool) + SEPARATOR + native(CONVERTER_NAME);
  for (const RecordedRun& run : runs) {
    EXPECT_EQ(run.arguments.size(), 2u);
    if (run.arguments.size() != 2) continue;
    EXPECT_EQ(run.fields.at("cmdline"),
              "\"" + converter + "\" \"" + run.arguments[0] + "\" \"" + run.arguments[1] + "\"");
  }
#endif
  for (const RecordedRun& run : runs) {
    // Never anything but a regular file: a FIFO could block the converter.
    if (run.fields.count("source_kind") != 0) {
      EXPECT_EQ(run.fields.at("source_kind"), "file") << run.arguments.front();
    }
    // Nothing of the tool's but the standard streams, which are not its own.
    if (run.fields.count("descriptors") != 0) {
      EXPECT_EQ(run.fields.at("descriptors"), "") << run.arguments.front();
    }
  }
  return runs;
}

std::vector<std::vector<std::string>> argument_lists(const std::vector<RecordedRun>& runs) {
  std::vector<std::vector<std::string>> lists;
  for (const RecordedRun& run : runs) lists.push_back(run.arguments);
  std::sort(lists.begin(), lists.end());
  return lists;
}

std::vector<RecordedRun> expect_handed_over(Site& site, const std::vector<PageCase>& cases,
                                            const std::string& mode) {
  std::vector<std::vector<std::string>> expected;
  for (const PageCase& c : cases) {
    if (!fs::exists(fs::symlink_status(site.pb(c.source)))) site.page(c.source);
    if (!c.target.empty()) expected.push_back({site.source_text(c.source), site.target_text(c.target)});
  }
  std::sort(expected.begin(), expected.end());

  const auto before = snapshot(site.tool / "pb2");
  const auto runs = site.run(mode);
  EXPECT_EQ(argument_lists(runs), expected);
  for (const RecordedRun& run : runs) EXPECT_FALSE(run.overlap);

  // A folder made in pb2 lies on the way to one of the pages' targets.
  std::vector<std::string> targets;
  for (const auto& pair : expected) targets.push_back(pair[1]);
  std::set<std::string> needed;
  for (const std::string& target : relative_targets(site, targets)) {
    for (std::size_t at = target.find('/'); at != std::string::npos; at = target.find('/', at + 1))
      needed.insert(target.substr(0, at + 1));
  }
  for (const auto& [name, content] : snapshot(site.tool / "pb2")) {
    if (name.ends_with("/") && before.count(name) == 0) {
      EXPECT_EQ(needed.count(name), 1u) << "made without a page that needs it: pb2/" << name;
    }
  }
  return runs;
}

void expect_conversions(Site& site, const std::vector<PageCase>& cases, const std::string& mode) {
  expect_handed_over(site, cases, mode);
  for (const PageCase& c : cases) {
    if (c.target.empty()) continue;
    EXPECT_EQ(read_file(site.pb2(c.target)), "converted " + site.source_text(c.source));
  }
}

}  // namespace mirrorpdf::testing
