// Test program for the command tests: appends its arguments, each between '|' signs, as one line
// to "probe.txt" in its current folder, after sleeping "sleep=MS" milliseconds, and exits with
// the status given as "exit=N".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  int code = 0;
  for (int i = 1; i < argc; i++) {
    if (strncmp(argv[i], "sleep=", 6) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(atoi(argv[i] + 6)));
    if (strncmp(argv[i], "exit=", 5) == 0) code = atoi(argv[i] + 5);
  }
  FILE* out = fopen("probe.txt", "a");
  if (!out) return 99;
  for (int i = 1; i < argc; i++) fprintf(out, "|%s", argv[i]);
  fputs("|\n", out);
  fclose(out);
  return code;
}
