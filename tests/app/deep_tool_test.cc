// The tool in a folder whose path is longer than 260 characters: its own
// path, and every path made from it, must come through whole. (Windows
// starts no program from so long a path, so this runs natively only.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/records.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempFolder;
using testing::write_file;

constexpr const char* TOOL_NAME = "mirrorpdf";
constexpr const char* CONVERTER_NAME = "wkhtmltopdf";

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TEST(DeepTool, ToolBeyond260CharactersFindsItsOwnTree) {
  TempFolder temp;
  fs::path tool = fs::canonical(temp.root);
  while (utf8_of(tool).size() <= 300) tool /= std::string(50, 'd');
  tool /= "the tool";
  fs::create_directories(tool / "bin");
  fs::copy_file(MIRRORPDF_BINARY, tool / TOOL_NAME);
  fs::copy_file(fs::path(testing::recorder_path()), tool / "bin" / CONVERTER_NAME);
  write_file(tool / "pb" / "page.html", "<p>deep</p>");
  const fs::path log = temp.root / "record.log";

  const fs::path own = fs::canonical(temp.root);
  const auto run =
      testing::run_confined(tool / TOOL_NAME, {}, temp.root, {own},
                            {{"MIRRORPDF_RECORD", utf8_of(log)}, {"MIRRORPDF_RECORD_ROOT", utf8_of(own)}},
                            std::chrono::seconds(10));
  EXPECT_TRUE(run.started) << run.errors;
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(log).find("outside "), std::string::npos) << read_file(log);

  const auto runs = testing::read_records(log);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].arguments, (std::vector<std::string>{utf8_of(tool / "pb" / "page.html"),
                                                         utf8_of(tool / "pb2" / "page.pdf")}));
  EXPECT_EQ(read_file(tool / "pb2" / "page.pdf"), "converted " + utf8_of(tool / "pb" / "page.html"));
}

}  // namespace
}  // namespace mirrorpdf
