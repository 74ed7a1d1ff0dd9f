// The I/O sweep: proof that an operation that writes files tells its caller of every failure of
// the platform file layer, leaves no existing file shorter or half-written, and leaks nothing.
#pragma once
#include <functional>
#include <source_location>
#include <string>

namespace testsupport {

struct IoSweep {
  // Puts the files in place before each run (an existing file the operation replaces, ...).
  std::function<void()> prepare;
  // Runs the operation: true when it told its caller that something failed (a status, a report).
  std::function<bool()> op;
  // After a run that failed: "" when the files are as the operation promises, else what is wrong.
  std::function<std::string()> check;
};

struct IoSweepResult {
  int calls = 0;        // calls of the file layer in the run without a failure
  int injected = 0;     // runs in which a call failed
  std::string failure;  // empty, or the first run that was not survived
};

// Runs `sweep.op` once without a failure to count its calls, then again with the (n+1)-th call
// failing with errno `error`, for n = 0 ... calls - 1: with every later call failing too, and
// with only that one failing (the later ones succeed). After each failing run the operation must
// have told its caller, the handles open through the file layer and the memory blocks must be
// as before the run, and `sweep.check` must find the files sound.
IoSweepResult io_sweep(const IoSweep& sweep, int error);

}  // namespace testsupport

// Sweeps and expects at least one injected failure, all survived, reported at the caller's line.
#define EXPECT_IO_SAFE(sweep, error)                                                    \
  do {                                                                                  \
    const ::testsupport::IoSweepResult kel_io_ = ::testsupport::io_sweep(sweep, error); \
    EXPECT_GT(kel_io_.injected, 0) << "the operation made no call of the file layer";   \
    EXPECT_EQ(kel_io_.failure, "") << kel_io_.calls << " calls";                        \
  } while (0)
