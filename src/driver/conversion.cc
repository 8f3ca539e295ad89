#include "driver/conversion.h"

#include <algorithm>
#include <new>

#include "driver/text_rules.h"
#include "platform/launcher.h"
#include "platform/process.h"

namespace mirrorpdf {

namespace {

const std::u16string SEPARATOR(1, NATIVE_SYNTAX.separator);

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool is_page(const std::u16string& name) {
  const std::u16string extension = lower_case(extension_of(name));
  return text_equal(extension, u"html") || text_equal(extension, u"htm");
}

void convert_page(ConversionRun& run, const std::u16string& name, const std::u16string& full) {
  const std::u16string target = target_of(run, name, full);
  ensure_target_folder(run, folder_of(target));

  const std::u16string parameters = quote_argument(full) + u" " + quote_argument(target);
  launch_program(run.converter_path, parameters, u"", LAUNCH_WAIT | LAUNCH_HIDE);
}

}  // namespace

std::u16string target_of(const ConversionRun& run, const std::u16string& name, const std::u16string& full) {
  // The relative part is everything after the leading source root; splitting
  // at the root's text would go wrong where that text recurs further on.
  std::u16string target = run.target_root;
  if (starts_with(full, run.source_root)) {
    target.append(full, run.source_root.size());
  } else {
    target += field_at(full, 2, run.source_root);
  }
  target = left_part(target, static_cast<long long>(target.size() - extension_of(name).size()));
  return target + u"pdf";
}

int ensure_target_folder(ConversionRun& run, const std::u16string& folder_text) {
  const std::u16string folder = trim_trailing(folder_text, SEPARATOR);
  if (text_equal(folder, run.last_target_folder)) return 1;

  if (path_size(folder) != PATH_IS_FOLDER) {
    // Every missing level from the target root down: a page deep in the tree
    // may come before any page of the folders above it, and the root itself
    // may not have been made at start.
    if (starts_with(folder, run.target_root)) {
      for (std::size_t at = folder.find(NATIVE_SYNTAX.separator, run.target_root.size() - 1);
           at != std::u16string::npos; at = folder.find(NATIVE_SYNTAX.separator, at + 1)) {
        const std::u16string level = folder.substr(0, at);
        if (path_size(level) != PATH_IS_FOLDER) make_folder(level);
      }
    }
    make_folder(folder);
  }
  // Remembered only once made: a page whose folder-making was cut short
  // leaves the next page of that folder to try again.
  run.last_target_folder = folder;
  return 1;
}

namespace {

// One entry of the listing in hand: a folder is walked, a page converted.
void convert_entry(ConversionRun& run, const std::u16string& folder, ListingHandle handle) {
  const int kind = entry_kind(handle);
  const std::u16string name = entry_name(handle);
  if (text_equal(name, u".") || text_equal(name, u"..")) return;
  const std::u16string full = folder + SEPARATOR + name;
  if (kind == ENTRY_FOLDER) {
    convert_folder(run, full);
  } else if (kind == ENTRY_FILE && is_page(name) && entry_kind_now(handle) == ENTRY_FILE) {
    // Asked again for a page alone, so the walk itself costs no query per
    // entry: a converter run since the listing was read may have removed
    // the page or put a FIFO, which would block the converter, in its
    // place.
    convert_page(run, name, full);
  }
}

}  // namespace

void convert_folder(ConversionRun& run, const std::u16string& folder_text) {
  const std::u16string folder = trim_trailing(folder_text, SEPARATOR);

  FolderIdentity identity{};
  const bool known = folder_identity(folder, &identity) != 0 && identity_known(identity);
  if (known) {
    if (std::find(run.walk_path.begin(), run.walk_path.end(), identity) != run.walk_path.end()) return;
    run.walk_path.push_back(identity);
  } else if (identity.link) {
    // A link that cannot be told apart from the folders being walked may
    // lead back to one of them; a plain folder cannot.
    return;
  }

  const ListingHandle handle = open_listing(folder, u"*.*");
  if (handle != nullptr) {
    while (next_entry(handle) != 0) {
      // Memory that cannot be had costs the entry in hand, not the walk.
      try {
        convert_entry(run, folder, handle);
      } catch (const std::bad_alloc&) {
      }
    }
    close_listing(handle);
  }

  if (known) run.walk_path.pop_back();
}

void run_conversion(const std::u16string& own_folder) {
  try {
    ConversionRun run;
    run.converter_path = own_folder + std::u16string(CONVERTER_NAME);
    run.source_root = own_folder + std::u16string(SOURCE_ROOT_NAME);
    run.target_root = own_folder + std::u16string(TARGET_ROOT_NAME);

    // A file of that name stays; creation then fails and pages are still
    // handed over.
    if (path_size(run.target_root) != PATH_IS_FOLDER) make_folder(run.target_root);

    convert_folder(run, run.source_root);
  } catch (const std::bad_alloc&) {
    // Nothing to walk with: the run ends as if the tree were empty.
  }
}

void convert_all() {
  try {
    // Without its own path the tool cannot tell where its tree is; the
    // current folder is not it, so nothing is touched.
    const std::u16string own_path = own_program_path();
    if (!own_path.empty()) run_conversion(folder_of(own_path));
  } catch (const std::bad_alloc&) {
  }
  close_all_listings();
  end_process(0);
}

}  // namespace mirrorpdf
