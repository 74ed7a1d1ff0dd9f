#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "../file/file_test_util.h"
#include "oom_sweep.h"
#include "runtime/mem/vm.h"
#include "runtime/shm/shm.h"

namespace {

class Channels : public testing::Test {
 protected:
  void SetUp() override { kelshm_init(u"channels"); }
  void TearDown() override { kelshm_reset(); }
  filetest::Reports reports;
};

// Whether [address, address + size) lies inside channel n's segment.
bool inside(uint32_t n, const void* address, int size) {
  const char* base =
      static_cast<const char*>(kelshm_get_ipc_chan((int)n, KELSHM_KIND_CHANNEL, 0)->base);
  const char* p = static_cast<const char*>(address);
  return p >= base + VM_SEGMENT_HEADER && p + size <= base + KELSHM_CHANNEL_SIZE;
}

TEST_F(Channels, PointersNameTheirChannel) {
  EXPECT_EQ(0, kelshm_get_ipc_chan(1, 0, 0)->chan_id + 1);  // -1 after initialisation
  kelshm_reset();
  const uint32_t small = kelshm_getmem(100);
  EXPECT_EQ(1u, small >> 24);
  void* address = kelshm_get_ptr(small);
  ASSERT_NE(nullptr, address);
  EXPECT_TRUE(inside(1, address, 100));
  const uint32_t big = kelshm_getmem(500000);  // channel 1 keeps room for it
  EXPECT_EQ(1u, big >> 24);
  const uint32_t second = kelshm_getmem(500000);  // no longer: channel 2 is made
  EXPECT_EQ(2u, second >> 24);
  EXPECT_TRUE(inside(2, kelshm_get_ptr(second), 500000));
  int state = -1, other = -1;
  EXPECT_EQ(1, kelshm_get_lock_status(0, &state, &other));
  EXPECT_EQ(0, state);  // resource 0 is unlocked again
  EXPECT_EQ("", reports.take());

  // Refusals: bad channel, absent channel, offset beyond the channel, blocks never handed out.
  EXPECT_EQ(nullptr, kelshm_get_ptr(0));
  EXPECT_EQ(nullptr, kelshm_get_ptr((1u << 24) | 0x100000u));  // channel 1, offset 0x100000
  EXPECT_NE(std::string::npos, reports.take().find("bad shmptr = 1100000"));
  EXPECT_EQ(nullptr, kelshm_get_ptr(0x05000010u));
  EXPECT_EQ(nullptr, kelshm_get_ptr(0x00000010u));
  EXPECT_NE(std::string::npos, reports.take().find("bad shmptr = 5000010"));
  std::string before((const char*)kelshm_get_ptr(small) - 16, 132);
  for (uint32_t bad : {small + 16, small - 16, small + 1, 0x01000010u, 0x07000150u, big + 48}) {
    EXPECT_EQ(1, kelshm_free(bad));
    EXPECT_NE(std::string::npos, reports.take().find("shmptr = ")) << std::hex << bad;
  }
  EXPECT_EQ(before, std::string((const char*)kelshm_get_ptr(small) - 16, 132));  // nothing written
  // A request no empty channel can hold is refused without making channels for it.
  for (int size : {(int)KELSHM_CHANNEL_SIZE, -1, INT_MIN, INT_MAX}) {
    EXPECT_EQ(0u, kelshm_getmem(size));
    EXPECT_NE(std::string::npos, reports.take().find("out of memory.")) << size;
  }
  EXPECT_EQ(nullptr, kelshm_get_ipc_chan(3, 1, 0)->base);
  EXPECT_EQ(nullptr, kelshm_get_ipc_chan(1, 7, 0));
  EXPECT_NE(std::string::npos, reports.take().find("unknown type 7."));
  EXPECT_EQ(1, kelshm_free(small));
  EXPECT_EQ("", reports.take());
  EXPECT_EQ(1, kelshm_free(small));  // a second free is refused
  EXPECT_NE(std::string::npos, reports.take().find("shmptr = "));
}

// The reset takes the channels' segments off the vm allocator's list before releasing them.
TEST_F(Channels, ResetForgetsTheSegments) {
  const unsigned before = vm_set_usage_callback(nullptr);
  kelshm_getmem(10);
  kelshm_getmem(400000);
  kelshm_getmem(400000);
  EXPECT_EQ(before + 2u * KELSHM_CHANNEL_SIZE, vm_set_usage_callback(nullptr));
  kelshm_reset();
  EXPECT_EQ(before, vm_set_usage_callback(nullptr));
  EXPECT_EQ(nullptr, kelshm_get_ipc_chan(1, 1, 0)->base);
  EXPECT_EQ(-1, kelshm_get_ipc_chan(1, 1, 0)->chan_id);
}

TEST_F(Channels, LocksAndTheirRefusals) {
  EXPECT_EQ(1, kelshm_gen_lock_op(3, 1, 1));
  EXPECT_EQ(0, kelshm_gen_lock_op(3, 2, 1));
  EXPECT_NE(std::string::npos,
            reports.take().find("conversion of shared lock into exclusive is not implemented."));
  EXPECT_EQ(1, kelshm_gen_lock_op(3, 0, 1));
  EXPECT_EQ(1, kelshm_gen_lock_op(3, 2, 1));
  EXPECT_EQ(1, kelshm_gen_lock_op(3, 2, 1));
  EXPECT_EQ(1, kelshm_gen_lock_op(3, 1, 1));
  int state = -1, other = -1;
  EXPECT_EQ(1, kelshm_get_lock_status(3, &state, &other));
  EXPECT_EQ(1, state);
  EXPECT_EQ(0, other);
  EXPECT_EQ(0, kelshm_gen_lock_op(255, 0, 1));
  EXPECT_NE(std::string::npos, reports.take().find("illegal resource # 255."));
  EXPECT_EQ(0, kelshm_gen_lock_op(-1, 0, 1));
  EXPECT_EQ(0, kelshm_gen_lock_op(4, 3, 1));
  EXPECT_EQ(0, kelshm_get_lock_status(300, &state, nullptr));
  EXPECT_EQ(0, state);
  EXPECT_NE(std::string::npos, reports.take().find("illegal resource # 300."));
  EXPECT_EQ(1, kelshm_get_lock_status(3, &state, nullptr));
  EXPECT_EQ(1, state);  // the refusals changed nothing
  EXPECT_EQ(nullptr, kelshm_get_ipc_chan(256, 1, 0));
  EXPECT_NE(std::string::npos, reports.take().find("illegal channel # 256."));
  kelshm_reset();
  EXPECT_EQ(1, kelshm_get_lock_status(3, &state, nullptr));
  EXPECT_EQ(0, state);

  std::u16string name(300, u'n');
  kelshm_init(name.c_str());
  EXPECT_NE(std::string::npos, reports.take().find("OVERFLOW."));
  EXPECT_EQ(u"", std::u16string(kelshm_name()));
  kelshm_init(u"lock manager");
  EXPECT_EQ(u"lock manager", std::u16string(kelshm_name()));
  EXPECT_EQ(-1, kelshm_get_ipc_chan(255, 1, 0)->lock_id);
}

// Thousands of random allocations and releases across several channels, against a map of the
// live blocks: every pointer resolves inside its channel, no two blocks overlap, and every
// block keeps what was written into it.
TEST_F(Channels, RandomTrafficStaysInsideAndApart) {
  std::mt19937 random(13);
  std::map<uint32_t, std::pair<int, unsigned char>> live;  // pointer -> size, fill byte
  int channels_seen = 0;
  for (int step = 0; step < 6000; step++) {
    if (live.size() < 60 && (live.empty() || random() % 3 != 0)) {
      const int size = 1 + (int)(random() % (random() % 8 == 0 ? 200000 : 3000));
      const uint32_t p = kelshm_getmem(size);
      ASSERT_NE(0u, p);
      ASSERT_EQ(0u, live.count(p));
      char* address = static_cast<char*>(kelshm_get_ptr(p));
      ASSERT_TRUE(inside(p >> 24, address, size));
      const unsigned char fill = (unsigned char)(step & 0xFF);
      memset(address, fill, (size_t)size);
      live[p] = {size, fill};
      channels_seen = std::max(channels_seen, (int)(p >> 24));
    } else {
      auto it = live.begin();
      std::advance(it, random() % live.size());
      const char* address = static_cast<const char*>(kelshm_get_ptr(it->first));
      for (int i = 0; i < it->second.first; i += 97) ASSERT_EQ((char)it->second.second, address[i]);
      ASSERT_EQ(1, kelshm_free(it->first));
      live.erase(it);
    }
    // Neighbours in the same channel do not overlap (the map orders by channel, then offset).
    if (step % 500 == 0) {
      for (auto it = live.begin(); it != live.end() && std::next(it) != live.end(); ++it) {
        auto next = std::next(it);
        if ((it->first >> 24) == (next->first >> 24)) {
          ASSERT_LE(it->first + (uint32_t)it->second.first, next->first);
        }
      }
    }
  }
  EXPECT_GE(channels_seen, 3);
  EXPECT_EQ("", reports.take());
}

// Running out of memory while a new channel is made leaves the lock free and no channel behind.
TEST_F(Channels, OutOfMemoryMakingAChannel) {
  kelshm_reset();
  EXPECT_OOM_SAFE([] { kelshm_getmem(64); },
                  [] {
                    int state = -1;
                    kelshm_get_lock_status(0, &state, nullptr);
                    EXPECT_EQ(0, state);
                    EXPECT_EQ(nullptr, kelshm_get_ipc_chan(1, 1, 0)->base);
                  });
}

}  // namespace
