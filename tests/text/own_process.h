// Running a test body in a process of its own, for behaviour that depends on a first call.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "child_output.h"

// The body passes when it reaches its end; CHILD_CHECK ends it with a failure naming the condition.
#define IN_OWN_PROCESS(body) testsupport::run_child([&] { body; }, ::testing::ExitedWithCode(0))
#define CHILD_CHECK(cond)                                                \
  do {                                                                   \
    if (!(cond)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      fflush(stderr);                                                    \
      std::_Exit(1);                                                     \
    }                                                                    \
  } while (0)
