/* The Windows spawn floor: starts the no-op converter once per
   "source target" line of a UTF-8 list, with the tool's command-line shape
   ("converter" "source" "target"), hidden with a console of its own, and
   waits for each before the next. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static wchar_t *widen(const char *text) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
  wchar_t *wide = HeapAlloc(GetProcessHeap(), 0, (size_t)length * sizeof(wchar_t));
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, length);
  return wide;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: floor-win CONVERTER LIST\n");
    return 2;
  }
  FILE *list = fopen(argv[2], "r");
  if (list == NULL) return 2;
  wchar_t *converter = widen(argv[1]);

  char line[8192];
  static wchar_t command[3 * 8192];
  while (fgets(line, sizeof line, list) != NULL) {
    line[strcspn(line, "\r\n")] = '\0';
    char *space = strchr(line, ' ');
    if (space == NULL) continue;
    *space = '\0';
    wchar_t *source = widen(line);
    wchar_t *target = widen(space + 1);
    _snwprintf(command, sizeof command / sizeof command[0], L"\"%ls\" \"%ls\" \"%ls\"", converter, source,
               target);
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (CreateProcessW(NULL, command, NULL, NULL, FALSE, CREATE_NEW_CONSOLE, NULL, NULL, &startup, &process)) {
      WaitForSingleObject(process.hProcess, INFINITE);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    HeapFree(GetProcessHeap(), 0, source);
    HeapFree(GetProcessHeap(), 0, target);
  }
  fclose(list);
  return 0;
}
