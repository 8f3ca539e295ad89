// Makes the system calls of the tool's POSIX backend fail on demand, from
// outside: preloaded into the tool (LD_PRELOAD), it stands in front of each
// call the backend makes and either fails it or passes it on.
//
//   MIRRORPDF_FAIL=NAME:K        the K-th call (from 1) of NAME fails, once
//   MIRRORPDF_FAIL=random:P:SEED every call fails with probability P (0..1),
//                                drawn from a generator seeded with SEED
//   MIRRORPDF_FAIL_LOG=FILE      where each failure is logged, one line:
//                                "fail NAME HEX", HEX the path it was about
//                                (hex-encoded; empty where there is none);
//                                at exit "calls NAME N" for every NAME called
//
// NAME is one of the names in the table below. A failure returns what the
// real call returns on an error, with an errno it can give, and has no other
// effect, except closedir, which still frees the stream (as POSIX has it
// after any result). A failed readdir ends the listing it was reading; its
// path is the folder that listing was opened on. waitpid fails with EINTR,
// the only failure a caller with a live child can meet.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

enum {
  STAT,
  LSTAT,
  MKDIR,
  OPENDIR,
  READDIR,
  CLOSEDIR,
  READLINK,
  SPAWN,
  ACTIONS_INIT,
  ACTIONS_ADDOPEN,
  ACTIONS_ADDCLOSEFROM,
  ACTIONS_ADDCHDIR,
  ATTR_INIT,
  ATTR_SETFLAGS,
  WAITPID,
  CALL_KINDS
};
static const char* const names[CALL_KINDS] = {"stat",
                                              "lstat",
                                              "mkdir",
                                              "opendir",
                                              "readdir",
                                              "closedir",
                                              "readlink",
                                              "posix_spawn",
                                              "posix_spawn_file_actions_init",
                                              "posix_spawn_file_actions_addopen",
                                              "posix_spawn_file_actions_addclosefrom_np",
                                              "posix_spawn_file_actions_addchdir_np",
                                              "posix_spawnattr_init",
                                              "posix_spawnattr_setflags",
                                              "waitpid"};

static long calls[CALL_KINDS];
static int chosen = -1;  // the kind whose K-th call fails
static long chosen_call;
static double probability;  // random mode when above 0
static uint64_t state;

// The folders of the open listings, for the log of a failed readdir.
enum { TRACKED = 256 };
static struct {
  DIR* stream;
  char path[4096];
} listings[TRACKED];

static void set_up(void) {
  static int done;
  if (done) return;
  done = 1;
  const char* plan = getenv("MIRRORPDF_FAIL");
  if (plan == NULL) return;
  const char* colon = strchr(plan, ':');
  if (colon == NULL) return;
  if (strncmp(plan, "random:", 7) == 0) {
    char* end;
    probability = strtod(colon + 1, &end);
    state = *end == ':' ? strtoull(end + 1, NULL, 10) : 0;
    return;
  }
  for (int kind = 0; kind < CALL_KINDS; ++kind) {
    if (strlen(names[kind]) == (size_t)(colon - plan) &&
        strncmp(plan, names[kind], (size_t)(colon - plan)) == 0) {
      chosen = kind;
      chosen_call = strtol(colon + 1, NULL, 10);
    }
  }
}

// splitmix64: the same seed gives the same failures on every machine.
static double next_draw(void) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  z ^= z >> 31;
  return (double)(z >> 11) / 9007199254740992.0;
}

static void append_log(const char* line) {
  const char* log = getenv("MIRRORPDF_FAIL_LOG");
  if (log == NULL) return;
  FILE* out = fopen(log, "a");
  if (out == NULL) return;
  fputs(line, out);
  fclose(out);
}

// True when this call of the kind is to fail; logs it.
static int failing(int kind, const char* path) {
  set_up();
  const long call = ++calls[kind];
  const int fail = probability > 0 ? next_draw() < probability : kind == chosen && call == chosen_call;
  if (!fail) return 0;
  char line[8300];
  int at = snprintf(line, sizeof line, "fail %s ", names[kind]);
  for (const char* c = path; c != NULL && *c != '\0' && at < (int)sizeof line - 4; ++c)
    at += snprintf(line + at, sizeof line - (size_t)at, "%02x", (unsigned char)*c);
  snprintf(line + at, sizeof line - (size_t)at, "\n");
  append_log(line);
  return 1;
}

__attribute__((destructor)) static void report_calls(void) {
  for (int kind = 0; kind < CALL_KINDS; ++kind) {
    if (calls[kind] == 0) continue;
    char line[128];
    snprintf(line, sizeof line, "calls %s %ld\n", names[kind], calls[kind]);
    append_log(line);
  }
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

int stat(const char* restrict path, struct stat* restrict status) {
  if (failing(STAT, path)) return errno = EACCES, -1;
  return REAL("stat", int (*)(const char*, struct stat*))(path, status);
}

int lstat(const char* restrict path, struct stat* restrict status) {
  if (failing(LSTAT, path)) return errno = EACCES, -1;
  return REAL("lstat", int (*)(const char*, struct stat*))(path, status);
}

int mkdir(const char* path, mode_t mode) {
  if (failing(MKDIR, path)) return errno = EACCES, -1;
  return REAL("mkdir", int (*)(const char*, mode_t))(path, mode);
}

DIR* opendir(const char* path) {
  if (failing(OPENDIR, path)) return errno = EACCES, (DIR*)NULL;
  DIR* stream = REAL("opendir", DIR * (*)(const char*))(path);
  for (int i = 0; stream != NULL && i < TRACKED; ++i) {
    if (listings[i].stream != NULL) continue;
    listings[i].stream = stream;
    snprintf(listings[i].path, sizeof listings[i].path, "%s", path);
    break;
  }
  return stream;
}

static const char* folder_of_stream(DIR* stream) {
  for (int i = 0; i < TRACKED; ++i)
    if (listings[i].stream == stream) return listings[i].path;
  return "";
}

struct dirent* readdir(DIR* stream) {
  if (failing(READDIR, folder_of_stream(stream))) return errno = EIO, (struct dirent*)NULL;
  return REAL("readdir", struct dirent * (*)(DIR*))(stream);
}

int closedir(DIR* stream) {
  const int fail = failing(CLOSEDIR, folder_of_stream(stream));
  for (int i = 0; i < TRACKED; ++i)
    if (listings[i].stream == stream) listings[i].stream = NULL;
  const int result = REAL("closedir", int (*)(DIR*))(stream);
  return fail ? (errno = EIO, -1) : result;
}

ssize_t readlink(const char* restrict path, char* restrict buffer, size_t size) {
  if (failing(READLINK, path)) return errno = EACCES, -1;
  return REAL("readlink", ssize_t(*)(const char*, char*, size_t))(path, buffer, size);
}

int posix_spawn(pid_t* restrict pid, const char* restrict path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* restrict attributes, char* const argv[restrict],
                char* const envp[restrict]) {
  // The page it was started for, which is what a failure costs.
  if (failing(SPAWN, argv[0] != NULL ? argv[1] : NULL)) return EAGAIN;
  return REAL("posix_spawn", int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                                     const posix_spawnattr_t*, char* const*, char* const*))(
      pid, path, actions, attributes, argv, envp);
}

int posix_spawn_file_actions_init(posix_spawn_file_actions_t* actions) {
  if (failing(ACTIONS_INIT, NULL)) return ENOMEM;
  return REAL("posix_spawn_file_actions_init", int (*)(posix_spawn_file_actions_t*))(actions);
}

int posix_spawn_file_actions_addopen(posix_spawn_file_actions_t* restrict actions, int descriptor,
                                     const char* restrict path, int flags, mode_t mode) {
  if (failing(ACTIONS_ADDOPEN, path)) return ENOMEM;
  return REAL("posix_spawn_file_actions_addopen", int (*)(posix_spawn_file_actions_t*, int, const char*, int,
                                                          mode_t))(actions, descriptor, path, flags, mode);
}

int posix_spawn_file_actions_addclosefrom_np(posix_spawn_file_actions_t* actions, int from) {
  if (failing(ACTIONS_ADDCLOSEFROM, NULL)) return ENOMEM;
  return REAL("posix_spawn_file_actions_addclosefrom_np", int (*)(posix_spawn_file_actions_t*, int))(actions,
                                                                                                     from);
}

int posix_spawn_file_actions_addchdir_np(posix_spawn_file_actions_t* restrict actions,
                                         const char* restrict path) {
  if (failing(ACTIONS_ADDCHDIR, path)) return ENOMEM;
  return REAL("posix_spawn_file_actions_addchdir_np", int (*)(posix_spawn_file_actions_t*, const char*))(
      actions, path);
}

int posix_spawnattr_init(posix_spawnattr_t* attributes) {
  if (failing(ATTR_INIT, NULL)) return ENOMEM;
  return REAL("posix_spawnattr_init", int (*)(posix_spawnattr_t*))(attributes);
}

int posix_spawnattr_setflags(posix_spawnattr_t* attributes, short flags) {
  if (failing(ATTR_SETFLAGS, NULL)) return EINVAL;
  return REAL("posix_spawnattr_setflags", int (*)(posix_spawnattr_t*, short))(attributes, flags);
}

pid_t waitpid(pid_t pid, int* status, int options) {
  if (failing(WAITPID, NULL)) return errno = EINTR, -1;
  return REAL("waitpid", pid_t(*)(pid_t, int*, int))(pid, status, options);
}
