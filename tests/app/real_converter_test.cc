// The tool with the real converter: the PDFs it leaves hold the pages' text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/temp_folder.h"

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::run_program;
using testing::TempFolder;
using testing::write_file;

const fs::path CONVERTER = "/usr/bin/wkhtmltopdf";
const fs::path PDF_TO_TEXT = "/usr/bin/pdftotext";

void write_page(const fs::path& path, const std::string& words) {
  write_file(path,
             "<!DOCTYPE html><html><head><style>body { font-family: sans-serif; color: #234; }</style>"
             "</head><body><h1>" +
                 words + "</h1></body></html>");
}

TEST(RealConverter, EveryPageBecomesAPdfHoldingItsText) {
  ASSERT_TRUE(fs::exists(CONVERTER)) << "scripts/deps installs wkhtmltopdf";
  ASSERT_TRUE(fs::exists(PDF_TO_TEXT)) << "scripts/deps installs poppler-utils";
  TempFolder temp;
  const fs::path tool = temp.root / "tool";
  fs::create_directories(tool / "bin");
  fs::copy_file(MIRRORPDF_BINARY, tool / "mirrorpdf");
  fs::create_symlink(CONVERTER, tool / "bin" / "wkhtmltopdf");
  write_page(tool / "pb" / "Index.HTML", "Quartz harbour");
  write_page(tool / "pb" / "news" / "2026" / "spring.htm", "Violet lantern");

  const auto tool_run =
      testing::run_confined(tool / "mirrorpdf", {}, temp.root, {temp.root}, {}, std::chrono::seconds(60));
  EXPECT_TRUE(tool_run.started) << tool_run.errors;
  EXPECT_EQ(tool_run.exit_code, 0);
  EXPECT_EQ(tool_run.output + tool_run.errors, "");

  for (const auto& [pdf, words] :
       {std::pair{tool / "pb2" / "Index.pdf", "Quartz harbour"},
        std::pair{tool / "pb2" / "news" / "2026" / "spring.pdf", "Violet lantern"}}) {
    SCOPED_TRACE(pdf.string());
    ASSERT_TRUE(fs::is_regular_file(pdf));
    const auto text = run_program(PDF_TO_TEXT, {pdf.string(), "-"}, temp.root);
    EXPECT_EQ(text.exit_code, 0) << text.errors;
    EXPECT_NE(text.output.find(words), std::string::npos) << text.output;
  }
}

}  // namespace
}  // namespace mirrorpdf
