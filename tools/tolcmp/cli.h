// The tolcmp command: tolcmp [options] FILE1 FILE2. Returns the exit status: 0 the files are the
// same within the tolerances, 1 they differ, 2 bad usage or a file that cannot be read.
#pragma once

int tolcmp_main(int argc, char** argv);
