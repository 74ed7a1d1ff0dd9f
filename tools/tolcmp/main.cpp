#include "cli.h"

int main(int argc, char** argv) { return tolcmp_main(argc, argv); }
