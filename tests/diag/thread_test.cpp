// The single-threaded thread layer: slot table limits and codes. The text of a refusal is checked
// where it is printed (init_trap_tls, in trap_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "child_output.h"
#include "runtime/diag/thread.h"

namespace {

// The slot table is process-wide and starts uninitialised, so its cases run in a child.
TEST(ThreadLayer, SlotTableLimitsAndCodes) {
  const std::string out = testsupport::run_child(
      [] {
        int key = 7;
        intptr_t w1 = 0, w2 = 0;
        std::printf("before: %d %d %d\n", tls_key_set(0, 1, 2), tls_key_get(0, &w1, &w2),
                    tls_key_delete(&key));

        int one = -1, two = -1;
        const int first = tls_key_create(&one, 1, 11, 99);
        const int second = tls_key_create(&two, 2, 21, 22);
        std::printf("types: %d %d %d\n", first, second, tls_key_create(&key, 3, 0, 0));
        std::printf("keys %d %d\n", one, two);
        w2 = -5;
        tls_key_get(one, &w1, &w2);
        std::printf("one %d %d\n", static_cast<int>(w1), static_cast<int>(w2));
        tls_key_set(two, 31, 32);
        tls_key_get(two, &w1, &w2);
        std::printf("two %d %d\n", static_cast<int>(w1), static_cast<int>(w2));

        int created = 2, last = -1, code = 0;
        while ((code = tls_key_create(&last, 0, 0, 0)) == 0) ++created;
        std::printf("created %d, then %d, last key %d\n", created, code, last);

        std::printf("range: %d %d\n", tls_key_get(50, &w1, nullptr), tls_key_set(-1, 0, 0));
        int outside = 50;
        const int refused = tls_key_delete(&outside);
        std::printf("delete outside: %d key %d\n", refused, outside);
        int gone = one;
        const int deleted = tls_key_delete(&gone);
        std::printf("delete: %d key %d\n", deleted, gone);
        std::printf("deleted slot: %d\n", tls_key_get(one, &w1, nullptr));
        int reused = -1;
        const int reuse = tls_key_create(&reused, 0, 5, 0);
        std::printf("reuse: %d key %d\n", reuse, reused);
      },
      testsupport::exits(0), {.start = testsupport::ChildStart::Fresh});
  EXPECT_EQ(out,
            "before: 3 3 3\n"
            "types: 0 0 18\n"
            "keys 0 1\n"
            "one 11 -5\n"
            "two 31 32\n"
            "created 50, then 4, last key 49\n"
            "range: 17 17\n"
            "delete outside: 17 key 50\n"
            "delete: 0 key -1\n"
            "deleted slot: 17\n"
            "reuse: 0 key 0\n");
}

int ran_with = 0;
void remember(void* argument) { ran_with = *static_cast<int*>(argument); }

TEST(ThreadLayer, OperationsAreImmediateAndLocksDoNothing) {
  int value = 17, id = 0, is_main = 0, mutex = 5;
  EXPECT_EQ(thread_run(remember, &value, &id), 0);
  EXPECT_EQ(ran_with, 17);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(thread_join(id), 0);
  EXPECT_EQ(thread_is_main(&is_main), 0);
  EXPECT_EQ(is_main, 1);
  EXPECT_EQ(thread_mutex_create(&mutex), 0);
  EXPECT_EQ(thread_mutex_lock(mutex), 0);
  EXPECT_EQ(thread_mutex_lock(mutex), 0);
  EXPECT_EQ(thread_mutex_unlock(mutex), 0);
  EXPECT_EQ(thread_mutex_delete(&mutex), 0);
}

}  // namespace
