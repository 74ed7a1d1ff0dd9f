// Test program for the command tests: appends its arguments, each between '|' signs, as one line
// to "probe.txt" in its current folder, and exits with the status given as "exit=N". Before
// writing it sleeps "sleep=MS" milliseconds, and with "gate" it waits until the file named by
// KEL_PROBE_GATE exists (a minute at most; then the line ends with "|gate never opened|").
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
bool gate_opens() {
  const char* gate = std::getenv("KEL_PROBE_GATE");
  for (int i = 0; gate && i < 6000; i++) {
    if (FILE* f = std::fopen(gate, "r")) return std::fclose(f), true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}
}  // namespace

int main(int argc, char** argv) {
  int code = 0;
  bool opened = true;
  for (int i = 1; i < argc; i++) {
    if (strncmp(argv[i], "sleep=", 6) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(atoi(argv[i] + 6)));
    if (strncmp(argv[i], "exit=", 5) == 0) code = atoi(argv[i] + 5);
    if (strcmp(argv[i], "gate") == 0) opened = gate_opens();
  }
  FILE* out = fopen("probe.txt", "a");
  if (!out) return 99;
  for (int i = 1; i < argc; i++) fprintf(out, "|%s", argv[i]);
  fputs(opened ? "|\n" : "|gate never opened|\n", out);
  fclose(out);
  return code;
}
