#include <csignal>

#include "cli.h"

int main(int argc, char** argv) {
#ifdef SIGPIPE
  // A reader that stops early (tolcmp a b | head -1) makes the output unwritable: exit status 2,
  // as for any output that cannot be written, not death by the signal.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  return tolcmp_main(argc, argv);
}
