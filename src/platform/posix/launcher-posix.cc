#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <new>
#include <string>
#include <vector>

#include "platform/launcher.h"
#include "platform/posix/utf8.h"
#include "platform/posix/words.h"

extern char** environ;

namespace mirrorpdf {

std::vector<std::u16string> split_words(std::u16string_view parameters) {
  std::vector<std::u16string> words;
  std::u16string word;
  bool in_word = false;
  bool quoted = false;
  for (std::size_t at = 0; at < parameters.size(); ++at) {
    const char16_t c = parameters[at];
    if (c == u'\\' && at + 1 < parameters.size()) {
      word += parameters[++at];
      in_word = true;
    } else if (c == u'"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && (c == u' ' || c == u'\t' || c == u'\n')) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

namespace {

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool made = false;   // both initialised, so both are destroyed
  bool ready = false;  // and every setting took

  explicit SpawnSetup(bool hide) {
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    if (posix_spawnattr_init(&attributes) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return;
    }
    made = ready = true;
    // Only the standard streams are passed on, as Windows passes no handle:
    // a descriptor the tool was started with (a pipe whose reader waits for
    // its end) must not stay open in whatever the program leaves running.
    if (posix_spawn_file_actions_addclosefrom_np(&actions, 3) != 0) ready = false;
    if (!hide) return;
    // The counterpart of a hidden console of its own: no terminal to write
    // to or read from, and a session apart from ours.
    for (int stream = 0; stream <= 2; ++stream) {
      if (posix_spawn_file_actions_addopen(&actions, stream, "/dev/null", stream == 0 ? O_RDONLY : O_WRONLY,
                                           0) != 0)
        ready = false;
    }
    if (posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID) != 0) ready = false;
  }
  ~SpawnSetup() {
    if (!made) return;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

int spawn(const std::string& path, std::vector<std::string>& arguments, const SpawnSetup& setup,
          pid_t* child) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return posix_spawn(child, path.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
}

}  // namespace

namespace {

int launch(const std::u16string& program, const std::u16string& parameters,
           const std::u16string& working_folder, LaunchFlags flags) {
  SpawnSetup setup((flags & LAUNCH_HIDE) != 0);
  if (!setup.ready) return 0;
  if (!working_folder.empty() &&
      posix_spawn_file_actions_addchdir_np(&setup.actions, to_system_bytes(working_folder).c_str()) != 0)
    return 0;

  const std::string path = to_system_bytes(program);
  std::vector<std::string> arguments{path};
  for (const std::u16string& word : split_words(parameters)) arguments.push_back(to_system_bytes(word));

  pid_t child;
  int error = spawn(path, arguments, setup, &child);
  if (error == ENOEXEC) {
    // A script without a #! line runs through the shell, as execvp does.
    arguments.insert(arguments.begin(), "/bin/sh");
    error = spawn("/bin/sh", arguments, setup, &child);
  }
  if (error != 0) return 0;

  if ((flags & LAUNCH_WAIT) != 0) {
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  return 1;
}

}  // namespace

int launch_program(const std::u16string& program, const std::u16string& parameters,
                   const std::u16string& working_folder, LaunchFlags flags) {
  if (program.empty()) return 0;
  // A command line that cannot be built starts nothing.
  try {
    return launch(program, parameters, working_folder, flags);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace mirrorpdf
