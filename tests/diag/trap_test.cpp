// Trap frames, cleanups, firing, deferred fires and fputs_or_trap.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <functional>
#include <string>

#include "child_output.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/thread.h"
#include "runtime/diag/trap.h"

namespace {

// What the cleanups did, in order.
std::string trail;

void note(intptr_t a0, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
          intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
  trail += reinterpret_cast<const char*>(a0);
}

bool add_note(const char* text) {
  const intptr_t args[16] = {reinterpret_cast<intptr_t>(text)};
  return trap_cleanup_add(note, args) == 1;
}

class Traps : public ::testing::Test {
 protected:
  void SetUp() override {
    // Start from an empty stack with firing enabled, whatever an earlier failure left.
    while (trap_pop()) {
    }
    traps_enable();
    trail.clear();
  }
  void TearDown() override { EXPECT_EQ(trap_pop(), 0) << "a test left a frame behind"; }
};

// Pushes an outer frame (mask 1, cleanup "o,") and an inner one (mask 4, cleanup "i,"), runs
// `inside` in the inner region and pops what is left. Which frame a fire came back to: 0 none,
// 1 the inner, 2 the outer.
int in_nested_frames(const std::function<void()>& inside) {
  jmp_buf outer, inner;
  volatile int taken = 0;
  if (setjmp(outer) == 0) {
    trap_push(outer, 1);
    add_note("o,");
    if (setjmp(inner) == 0) {
      trap_push(inner, 4);
      add_note("i,");
      inside();
    } else {
      taken = 1;
    }
    trap_pop();
    trap_pop();
  } else {
    taken = 2;
    EXPECT_EQ(trap_pop(), 1) << "the taking frame stays for its owner";
  }
  return taken;
}

TEST_F(Traps, UnhandledClassRunsEveryCleanupAndEmptiesTheStack) {
  const int taken = in_nested_frames([] {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(trap_fire(2), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), " ALL TRAPS EXAUSTED\n");
    EXPECT_EQ(trap_pop(), 0);
  });
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(trail, "i,o,");
}

TEST_F(Traps, FireJumpsToTheInnermostFrameForTheClass) {
  EXPECT_EQ(in_nested_frames([] { trap_fire(1); }), 2);
  EXPECT_EQ(trail, "i,o,");
  // A code sharing any bit with the inner mask stops there; the outer cleanups stay unrun.
  trail.clear();
  EXPECT_EQ(in_nested_frames([] { trap_fire(5); }), 1);
  EXPECT_EQ(trail, "i,");
}

TEST_F(Traps, DisabledFiringKeepsTheLastCodeForEnable) {
  const int taken = in_nested_frames([] {
    traps_disable();
    EXPECT_EQ(traps_enabled(), 0);
    EXPECT_EQ(trap_fire(4), 0);
    EXPECT_EQ(trap_fire(1), 0);
    EXPECT_EQ(trail, "");
    traps_enable();  // fires 1, the later code
  });
  EXPECT_EQ(taken, 2);
  EXPECT_EQ(trail, "i,o,");
  EXPECT_EQ(traps_enabled(), 1);
}

TEST_F(Traps, CleanupsNeedAFrameAndDropOrPopReleaseThemUnrun) {
  EXPECT_FALSE(add_note("nowhere,"));
  EXPECT_EQ(trap_cleanup_drop(), 0);

  jmp_buf frame;
  volatile bool jumped = false;
  if (setjmp(frame) == 0) {
    trap_push(frame, 8);
    EXPECT_EQ(trap_cleanup_drop(), 0);
    EXPECT_TRUE(add_note("a,"));
    EXPECT_TRUE(add_note("b,"));
    EXPECT_EQ(trap_cleanup_drop(), 1);  // b
    trap_block held;
    trap_block_get(&held, 16);
    trap_block_release(&held);
    trap_block_release(&held);  // released already: drops no other cleanup
    trap_fire(8);
  } else {
    jumped = true;
  }
  EXPECT_TRUE(jumped);
  EXPECT_EQ(trail, "a,");
  EXPECT_EQ(trap_pop(), 1);

  trail.clear();
  trap_push(frame, 8);
  add_note("never,");
  EXPECT_EQ(trap_pop(), 1);
  EXPECT_EQ(trail, "");
}

intptr_t seen_args[16];
void record_args(intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5,
                 intptr_t a6, intptr_t a7, intptr_t a8, intptr_t a9, intptr_t a10, intptr_t a11,
                 intptr_t a12, intptr_t a13, intptr_t a14, intptr_t a15) {
  const intptr_t all[16] = {a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15};
  for (int i = 0; i < 16; ++i) seen_args[i] = all[i];
}

TEST_F(Traps, CleanupReceivesItsSixteenWords) {
  jmp_buf frame;
  if (setjmp(frame) == 0) {
    trap_push(frame, 2);
    intptr_t args[16];
    for (int i = 0; i < 16; ++i) args[i] = 100 + i;
    trap_cleanup_add(record_args, args);
    trap_cleanup_add(record_args, nullptr);  // runs first: sixteen zeros
    trap_fire(2);
  }
  EXPECT_EQ(trap_pop(), 1);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(seen_args[i], 100 + i) << i;
}

// Results of the operations a cleanup tried while the fire was running.
std::string refused;
void try_during_fire(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                     intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                     intptr_t) {
  refused = std::to_string(add_note("late,")) + std::to_string(trap_cleanup_drop()) +
            std::to_string(trap_pop()) + std::to_string(trap_fire(0xFFFFFFFF));
}

TEST_F(Traps, AFireRefusesCleanupsPopsAndFiresOnItsOwnFrames) {
  jmp_buf outer, inner;
  if (setjmp(outer) == 0) {
    trap_push(outer, 2);
    add_note("o,");
    if (setjmp(inner) == 0) {
      trap_push(inner, 4);
      add_note("i,");
      trap_cleanup_add(try_during_fire, nullptr);
      trap_fire(2);
    }
  }
  EXPECT_EQ(refused, "0000");
  EXPECT_EQ(trail, "i,o,");
  EXPECT_EQ(trap_pop(), 1);
}

// A routine that guards a region of its own from inside a cleanup.
void guarded_routine(bool pops) {
  jmp_buf own;
  if (setjmp(own) == 0) {
    trap_push(own, 0xFFFFFFFF);
    trail += add_note("own,") ? "added," : "refused,";
    if (pops) trail += trap_pop() ? "popped," : "not popped,";
  } else {
    trail += "jumped into a returned routine,";
  }
}

void cleanup_with_guard(intptr_t pops, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                        intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                        intptr_t, intptr_t) {
  guarded_routine(pops != 0);
}

// Fires class 1 at a frame whose cleanup runs guarded_routine; the cleanups' trail.
std::string fire_through_guarded_cleanup(bool pops) {
  trail.clear();
  jmp_buf frame;
  volatile bool jumped = false;
  if (setjmp(frame) == 0) {
    trap_push(frame, 1);
    add_note("first,");
    const intptr_t args[16] = {pops};
    trap_cleanup_add(cleanup_with_guard, args);
    trap_fire(1);
  } else {
    jumped = true;
  }
  EXPECT_TRUE(jumped);
  EXPECT_EQ(trap_pop(), 1);
  return trail;
}

TEST_F(Traps, FramesPushedByACleanupAreItsOwnAndNeverJumpedTo) {
  // The routine's own cleanup goes with its frame, unrun: never run by this fire.
  EXPECT_EQ(fire_through_guarded_cleanup(true), "added,popped,first,");
  EXPECT_EQ(fire_through_guarded_cleanup(false), "added,first,");
}

TEST_F(Traps, ErrorBreakFiresClassTwo) {
  jmp_buf frame;
  volatile bool jumped = false;
  if (setjmp(frame) == 0) {
    trap_push(frame, TRAP_CLASS_SERIOUS_ERROR);
    error_break("Memory error.");
  } else {
    jumped = true;
  }
  EXPECT_TRUE(jumped);
  EXPECT_EQ(trap_pop(), 1);
  // Without a frame the break returns to its caller.
  error_break("Memory error.");
}

TEST_F(Traps, FputsOrTrapWritesOrFiresClassEight) {
  const std::string path = "diag_fputs_or_trap.txt";  // in the test's own folder
  std::FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(fputs_or_trap(out, "%d-%s", 12, "ab"), 5);
  std::fclose(out);
  EXPECT_EQ(testsupport::read_text(path), "12-ab");

  std::FILE* read_only = std::fopen(path.c_str(), "r");
  ASSERT_NE(read_only, nullptr);
  EXPECT_EQ(fputs_or_trap(read_only, "x"), 0);  // no frame: the fire returns 0
  jmp_buf frame;
  volatile bool jumped = false;
  if (setjmp(frame) == 0) {
    trap_push(frame, TRAP_CLASS_WRITE_FAILED);
    fputs_or_trap(read_only, "x");
  } else {
    jumped = true;
  }
  EXPECT_TRUE(jumped);
  EXPECT_EQ(trap_pop(), 1);
  std::fclose(read_only);
}

TEST(TrapStorage, FramesSurviveTheMoveIntoTheThreadSlotAndAFullTableFallsBack) {
  // The slot table starts empty only in a process of its own.
  const testsupport::ChildOptions fresh{.start = testsupport::ChildStart::Fresh};
  std::string out = testsupport::run_child(
      [] {
        static jmp_buf frame;
        if (setjmp(frame) == 0) {
          trap_push(frame, 1);
          init_trap_tls();
          trap_fire(1);
          std::printf("not taken\n");
        } else {
          std::printf("taken %d\n", trap_pop());
        }
      },
      testsupport::exits(0), fresh);
  EXPECT_EQ(out, "taken 1\n");

  out = testsupport::run_child(
      [] {
        int key = 0;
        while (tls_key_create(&key, 0, 0, 0) == THREAD_OK) {
        }
        init_trap_tls();
        static jmp_buf frame;
        if (setjmp(frame) == 0) {
          trap_push(frame, 1);
          trap_fire(1);
        } else {
          std::printf("taken %d\n", trap_pop());
        }
      },
      testsupport::exits(0), fresh);
  EXPECT_EQ(out,
            "init_trap_tls: ZV: Too many of this resource have already been created.\ntaken 1\n");
}

}  // namespace
