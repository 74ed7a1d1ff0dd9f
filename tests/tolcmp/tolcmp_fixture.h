// Tolerance-comparison tests with the standard-output lines off unless a test turns them on. Their
// files and the report file are written in the current folder, the one the test main makes for
// each test.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "child_output.h"
#include "runtime/tolcmp/tolcmp.h"

class ToleranceTest : public ::testing::Test {
 public:
  void SetUp() override { tolerance_console_set(0); }
  void TearDown() override { tolerance_console_set(1); }
  static void write(const char* name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  // Writes the two files and compares them in order.
  static int compare(const std::string& a, const std::string& b, int blank_check = 0, int loose = 0,
                     double abs_eps = 1e-6, double rel_eps = 1e-3) {
    write("a.txt", a);
    write("b.txt", b);
    return tolerance_compare_files("a.txt", "b.txt", blank_check, loose, abs_eps, rel_eps);
  }
  static std::string report() { return testsupport::read_text("dbgfile.dat"); }
};
