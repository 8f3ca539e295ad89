// The Windows tool under Wine with the real converter: the bridge beside it
// as bin\wkhtmltopdf.exe runs this machine's wkhtmltopdf, and the PDFs it
// leaves hold the pages' text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/temp_folder.h"
#include "support/wine_host.h"

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::host_path_of;
using testing::read_file;
using testing::run_on_host;
using testing::TempFolder;
using testing::write_file;

void write_page(const fs::path& path, const std::string& words) {
  write_file(path, "<!DOCTYPE html><html><body><h1>" + words + "</h1></body></html>");
}

// The text pdftotext finds in a PDF; empty when it finds none.
std::string text_in(const fs::path& pdf) {
  const fs::path text = fs::path(pdf).replace_extension(".txt");
  if (run_on_host({"/usr/bin/pdftotext", host_path_of(pdf), host_path_of(text)}) != 0) return {};
  return read_file(text);
}

TEST(RealConverterUnderWine, EveryPageBecomesAPdfHoldingItsText) {
  ASSERT_TRUE(testing::wine_host_available()) << "runs under Wine only";
  ASSERT_EQ(run_on_host({"/usr/bin/test", "-x", "/usr/bin/wkhtmltopdf"}), 0)
      << "scripts/deps installs wkhtmltopdf";
  ASSERT_EQ(run_on_host({"/usr/bin/test", "-x", "/usr/bin/pdftotext"}), 0)
      << "scripts/deps installs poppler-utils";
  TempFolder temp;
  const fs::path tool = temp.root / "the tool";
  fs::create_directories(tool / "bin");
  fs::copy_file(MIRRORPDF_BINARY, tool / "mirrorpdf.exe");
  fs::copy_file(MIRRORPDF_BRIDGE, tool / "bin" / "wkhtmltopdf.exe");
  write_page(tool / "pb" / "Index.HTML", "Quartz harbour");
  write_page(tool / "pb" / "news" / "2026" / "spring.htm", "Violet lantern");
  write_file(tool / "pb" / "notes.txt", "not a page");

  const fs::path log = temp.root / "record.log";
  const auto tool_run = testing::run_confined(
      tool / "mirrorpdf.exe", {}, temp.root, {temp.root},
      {{"MIRRORPDF_RECORD_ROOT", temp.root.string()}, {"MIRRORPDF_RECORD", log.string()}},
      std::chrono::seconds(90));
  EXPECT_TRUE(tool_run.started) << tool_run.errors;
  EXPECT_FALSE(tool_run.timed_out);
  EXPECT_EQ(tool_run.exit_code, 0);
  EXPECT_EQ(tool_run.output + tool_run.errors, "");

  for (const auto& [pdf, words] :
       {std::pair{tool / "pb2" / "Index.pdf", "Quartz harbour"},
        std::pair{tool / "pb2" / "news" / "2026" / "spring.pdf", "Violet lantern"}}) {
    SCOPED_TRACE(pdf.string());
    ASSERT_TRUE(fs::is_regular_file(pdf));
    EXPECT_EQ(read_file(pdf).substr(0, 5), "%PDF-");
    EXPECT_NE(text_in(pdf).find(words), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(tool / "pb2" / "notes.pdf"));
  EXPECT_EQ(read_file(log), "");  // the bridge logs only what it refused
}

}  // namespace
}  // namespace mirrorpdf
