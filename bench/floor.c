/* The spawn floor: starts the no-op converter once per "source target" line
   of a list, hidden as the tool starts it (standard streams on /dev/null, a
   session of its own), and waits for each before the next. Every launcher
   for this job does at least this much. */
#define _GNU_SOURCE /* POSIX_SPAWN_SETSID */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

extern char **environ;

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: floor CONVERTER LIST\n");
    return 2;
  }
  FILE *list = fopen(argv[2], "r");
  if (list == NULL) return 2;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  char line[8192];
  while (fgets(line, sizeof line, list) != NULL) {
    line[strcspn(line, "\n")] = '\0';
    char *space = strchr(line, ' ');
    if (space == NULL) continue;
    *space = '\0';
    char *child_argv[] = {argv[1], line, space + 1, NULL};
    pid_t child;
    if (posix_spawn(&child, argv[1], &actions, &attributes, child_argv, environ) != 0) continue;
    int status;
    waitpid(child, &status, 0);
  }
  fclose(list);
  return 0;
}
