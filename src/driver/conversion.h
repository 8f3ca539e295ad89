// The conversion run: the walk of the source tree and the page job.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

namespace mirrorpdf {

// What one run holds from start to exit.
struct ConversionRun {
  std::u16string converter_path;
  std::u16string source_root;  // ends with exactly one separator
  std::u16string target_root;  // ends with exactly one separator
  // The folders being walked, outermost first, so a link back to one of
  // them is not walked again. Bounded by depth.
  std::vector<FolderIdentity> walk_path;
  // The target folder made (or found) last; pages of one folder share it.
  std::u16string last_target_folder;
};

// The whole run for an executable in own_folder (empty: relative to the
// current folder). Makes the target root, walks the source root and returns;
// convert_all wraps it.
void run_conversion(const std::u16string& own_folder);

// The entry procedure: never returns, ends the process with status 0.
[[noreturn]] void convert_all();

// Walks one source folder and everything below it.
void convert_folder(ConversionRun& run, const std::u16string& folder);

// The target of the page name whose full source path is full: the same path
// under the target root, its extension replaced by pdf.
std::u16string target_of(const ConversionRun& run, const std::u16string& name, const std::u16string& full);

// Creates the folder a target goes into, with every missing level below the
// target root; returns 1.
int ensure_target_folder(ConversionRun& run, const std::u16string& folder);

}  // namespace mirrorpdf
