// Shared helpers of the xarray tests: a raw reader of the block layout and a runner that takes a
// stop (which ends the process) in a child process and hands back what it printed.
#pragma once
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <source_location>
#include <sstream>
#include <string>
#include <vector>

#include "child_output.h"
#include "runtime/diag/diag.h"
#include "runtime/xar/xar.h"

namespace xar_test {

// The block fields, decoded byte by byte from the memory around a user pointer.
struct Raw {
  int units, extension, object_size, head_magic, tail_magic, zone, count;
};

inline uint32_t le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

inline Raw raw(const void* user) {
  const uint8_t* b = static_cast<const uint8_t*>(user) - 8;
  Raw r{};
  const uint32_t word = le32(b);
  r.units = int(word & 0x7FFFF);
  r.extension = int(word >> 19);
  r.object_size = le16(b + 4);
  r.head_magic = le16(b + 6);
  const uint8_t* t = b + r.units * 8 - 8;
  r.tail_magic = le16(t);
  r.zone = int16_t(le16(t + 2));
  r.count = int32_t(le32(t + 4));
  return r;
}

inline int capacity(const void* user) {
  const Raw r = raw(user);
  return (r.units * 8 - 16) / r.object_size;
}

// True when every byte of the data space past the used objects is zero.
inline bool spare_is_zero(const void* user) {
  const Raw r = raw(user);
  const uint8_t* data = static_cast<const uint8_t*>(user);
  for (int i = r.count * r.object_size; i < r.units * 8 - 16; ++i)
    if (data[i]) return false;
  return true;
}

// Runs `action` in a child that must end with the runtime's fatal stop; returns what it printed.
template <class F>
std::string stop_output(F action,
                        const std::source_location where = std::source_location::current()) {
  return testsupport::run_child(action, testsupport::stops(), {}, where);
}

// Stops raised by the runtime come back to the stopping routine (debug mode, the raised signal
// caught), one between two resets of `stops_raised`: a real fault, which comes back again and
// again, or a second stop (a routine that went on after refusing) ends the process with 99.
inline volatile std::sig_atomic_t stops_raised = 0;
inline void return_once(int signal_number) {
  stops_raised = stops_raised + 1;
  if (stops_raised > 1) std::_Exit(99);
  std::signal(signal_number, return_once);
}
inline void catch_stops() {
  std::signal(SIGSEGV, return_once);
  debug_setup(1);
}

inline bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}
inline bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// An int xarray filled with the given values.
inline int* ints(std::initializer_list<int> values, int extension = 4) {
  int* a = static_cast<int*>(XAR_ALLOC(0, sizeof(int), extension));
  for (int v : values) XAR_APPEND(&a, 1, &v);
  return a;
}

// An xarray made from a plain array with extension 1, so that it has no spare slot whenever
// count x object size is a multiple of 8.
template <class T = int>
T* from(std::initializer_list<T> values) {
  T* a = nullptr;
  xar_from_array(values.begin(), int(values.size()), int(sizeof(T)), 1, &a);
  return a;
}

template <class T>
std::vector<T> contents(const T* a) {
  return a ? std::vector<T>(a, a + XAR_COUNT(&a)) : std::vector<T>{};
}

}  // namespace xar_test
