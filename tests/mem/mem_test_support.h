// Helpers for the heap tests: an arena backing allocator whose released memory stays readable,
// and children that must end with the runtime's fatal stop.
#pragma once
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <source_location>
#include <string>

#include "child_output.h"
#include "runtime/mem/mem.h"

namespace memtest {

// Serves backing requests from a fixed arena and never reuses memory, so a released block can
// still be read (its fill checked, a second release examined) without touching freed memory.
class ArenaBacking : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// Runs `body` in a child that must end with the runtime's fatal stop; returns what it printed.
template <class Body>
std::string stop_output(Body&& body,
                        const std::source_location where = std::source_location::current()) {
  return testsupport::run_child(body, testsupport::stops(), {}, where);
}

}  // namespace memtest
