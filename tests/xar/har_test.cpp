// Harrays against std::deque: a random model run over objects large enough that a few hundred
// make a segment, the layout numbers, and out-of-memory runs of every growing operation.
#include <climits>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "oom_sweep.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar.h"
#include "runtime/xar/har.h"
#include "xar_test_util.h"

namespace {

struct Obj {
  int tag;
  char pad[3992];
  int tail;
};
static_assert(sizeof(Obj) == 4000);
constexpr int kPerSegment = 2047984 / 4000;  // 511

Obj make(int tag) {
  Obj o{};
  o.tag = tag;
  o.tail = ~tag;
  return o;
}

// The harray holds exactly the model, every segment but the last is full, and the look-up agrees.
void expect_same(Obj** har, const std::deque<int>& model) {
  ASSERT_EQ(har_count(har), int(model.size()));
  const int segs = XAR_COUNT(har);
  for (int s = 0; s + 1 < segs; ++s)
    ASSERT_EQ(XAR_COUNT(&(*reinterpret_cast<void***>(har))[s]), kPerSegment);
  for (size_t i = 0; i < model.size(); ++i) {
    int seg = 0, off = 0;
    const Obj* o = static_cast<const Obj*>(har_object(har, int(i), &seg, &off));
    ASSERT_NE(o, nullptr);
    ASSERT_EQ(o->tag, model[i]) << i;
    ASSERT_EQ(o->tail, model[i] ? ~model[i] : 0);
    ASSERT_EQ(seg, int(i) / kPerSegment);
    ASSERT_EQ(off, int(i) % kPerSegment);
  }
  int seg = 0, off = 0;
  EXPECT_EQ(har_object(har, int(model.size()), &seg, &off), nullptr);
  EXPECT_EQ(seg, -1);
  EXPECT_EQ(har_object(har, -1, nullptr, nullptr), nullptr);
  const Obj* last = static_cast<const Obj*>(har_last(har));
  EXPECT_EQ(last ? last->tag : -1, model.empty() ? -1 : model.back());
}

TEST(Harray, ModelAgainstDeque) {
  std::mt19937 rng(12);
  Obj* har = static_cast<Obj*>(har_alloc(sizeof(Obj), 100));
  std::deque<int> model;
  int next_tag = 1;
  std::vector<Obj> batch;
  for (int step = 0; step < 400; ++step) {
    const int action = rng() % 8;
    const int total = int(model.size());
    if (action <= 1) {  // append a batch, possibly across several segments
      const int n = rng() % 1300;
      batch.clear();
      for (int i = 0; i < n; ++i) {
        batch.push_back(make(next_tag));
        model.push_back(next_tag++);
      }
      har_append(&har, n, batch.data());
    } else if (action == 2) {
      Obj* o = static_cast<Obj*>(har_extend_one(&har));
      ASSERT_EQ(o->tag, 0);
      *o = make(next_tag);
      model.push_back(next_tag++);
    } else if (action == 3 && total) {  // by 0, 1 or 2, then by any count
      const int n = rng() % (total + 1);
      const int small = std::min(int(rng() % 3), total - n);
      har_shrink(&har, small);
      har_shrink(&har, n);
      model.resize(total - small - n);
    } else if (action == 4) {  // new objects are zero
      const int n = rng() % 2000;
      har_resize(&har, n);
      model.resize(n, 0);
    } else if (action == 5 && total) {
      const int index = rng() % total;
      const int n = rng() % (total - index + 1);
      EXPECT_EQ(har_remove(&har, index, n), 0);
      model.erase(model.begin() + index, model.begin() + index + n);
    } else if (action == 6 && total) {
      const int start = rng() % total;
      int n = rng() % (total - start + 1);
      if (n > kPerSegment) n = kPerSegment;
      Obj* x = static_cast<Obj*>(har_extract(&har, start, n, 0));
      ASSERT_EQ(XAR_COUNT(&x), n);  // null for n = 0
      for (int i = 0; i < n; ++i) ASSERT_EQ(x[i].tag, model[start + i]);
      XAR_FREE(&x);
    } else if (action == 7) {  // a copy is equal and independent; concat adds it (or itself)
      Obj* copy = nullptr;
      har_copy(&har, &copy);
      expect_same(&copy, model);
      const std::deque<int> before = model;
      if (rng() % 2) {
        har_concat(&har, &copy);
      } else {
        har_concat(&har, &har);
      }
      model.insert(model.end(), before.begin(), before.end());
      har_free(&copy);
      EXPECT_EQ(copy, nullptr);
    }
    expect_same(&har, model);
    if (HasFatalFailure()) break;
  }
  har_free(&har);
}

TEST(Harray, LayoutNumbers) {
  double* h = static_cast<double*>(har_alloc(8, 4));
  EXPECT_EQ(XAR_COUNT(&h), 1);  // one empty segment
  EXPECT_EQ(har_count(&h), 0);
  EXPECT_EQ(har_extract(&h, 0, 0, 0), nullptr);
  har_resize(&h, 255999);
  int seg = 0, off = 0;
  EXPECT_NE(har_object(&h, 255998, &seg, &off), nullptr);
  EXPECT_TRUE(seg == 1 && off == 0 && XAR_COUNT(&h) == 2);
  // A segment's growth step is at most 196608 bytes.
  int ext = 0;
  har_free(&h);
  h = static_cast<double*>(har_alloc(8, 100000));
  XAR_PARAMS(reinterpret_cast<void**>(h), nullptr, &ext, nullptr, nullptr);
  EXPECT_EQ(ext, 196608 / 8 > 8191 ? 8191 : 196608 / 8);
  har_resize(&h, 255998 + 10);
  har_shrink(&h, 20);  // more than the second segment holds: it is freed, the first shrinks
  EXPECT_TRUE(XAR_COUNT(&h) == 1 && har_count(&h) == 255988);
  // An extract may span the border of two segments.
  har_resize(&h, 256010);
  for (int i = 255990; i < 256010; ++i)
    *static_cast<double*>(har_object(&h, i, nullptr, nullptr)) = i;
  double* x = static_cast<double*>(har_extract(&h, 255995, 10, 3));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(x[i], 255995 + i);
  XAR_FREE(&x);
  EXPECT_EQ(har_extract(&h, 256005, 10, 0), nullptr);  // runs past the end
  har_free(&h);
  EXPECT_EQ(h, nullptr);
}

// The inline look-up agrees with the out-of-line one (segment and offset asked for) for sizes it
// answers itself and sizes it passes on, at every segment border, past the end and below zero.
TEST(Harray, LookUpAgreesForEverySize) {
  void* absent = nullptr;
  EXPECT_EQ(har_object(&absent, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(har_object(nullptr, 0, nullptr, nullptr), nullptr);
  for (int size : {1, 2, 3, 4, 8, 12, 16, 24}) {
    void* h = har_alloc(size, 64);
    const int per = 2047984 / size, n = 2 * per + 7;
    har_resize(&h, n);
    std::vector<int> at = {-1, INT_MIN, INT_MAX, n, n + per, 0, n - 1};
    for (int b = 1; b <= 2; ++b)
      for (int d : {-1, 0, 1}) at.push_back(b * per + d);
    for (int i : at) {
      int seg = -2, off = -2;
      char* want = static_cast<char*>((har_object)(&h, i, &seg, &off));
      ASSERT_EQ(har_object(&h, i, nullptr, nullptr), want) << size << " " << i;
      if (i < 0 || i >= n) {
        ASSERT_TRUE(want == nullptr && seg == -1 && off == -1) << size << " " << i;
        continue;
      }
      char** segs = *reinterpret_cast<char***>(&h);
      ASSERT_TRUE(seg == i / per && off == i % per) << size << " " << i;
      ASSERT_EQ(want, segs[seg] + off * size) << size << " " << i;
    }
    har_free(&h);
  }
}

// Every growing operation, with the backing failing at each request in turn, either completes or
// leaves the harray exactly as it was and takes nothing.
TEST(Harray, OutOfMemoryLeavesItAsItWas) {
  Obj* har = static_cast<Obj*>(har_alloc(sizeof(Obj), 50));
  std::deque<int> model;
  std::vector<Obj> batch;
  for (int i = 0; i < 700; ++i) {
    batch.push_back(make(i + 1));
    model.push_back(i + 1);
  }
  har_append(&har, 700, batch.data());
  auto unchanged = [&] { expect_same(&har, model); };
  EXPECT_OOM_SAFE([&] { har_append(&har, 700, batch.data()); }, unchanged);
  const std::deque<int> first(model.begin(), model.begin() + 700);
  model.insert(model.end(), first.begin(), first.end());
  EXPECT_OOM_SAFE([&] { har_concat(&har, &har); }, unchanged);
  const std::deque<int> whole = model;
  model.insert(model.end(), whole.begin(), whole.end());
  EXPECT_OOM_SAFE([&] { har_resize(&har, 3000); }, unchanged);
  model.resize(3000, 0);
  Obj* copy = nullptr;
  EXPECT_OOM_SAFE([&] { har_copy(&har, &copy); }, [&] { EXPECT_EQ(copy, nullptr); });
  Obj* x = nullptr;
  EXPECT_OOM_SAFE([&] { x = static_cast<Obj*>(har_extract(&har, 500, 20, 0)); },
                  [&] { EXPECT_EQ(x, nullptr); });
  EXPECT_EQ(x[0].tag, model[500]);
  void* fresh = nullptr;
  EXPECT_OOM_SAFE([&] { fresh = har_alloc(16, 4); }, [&] { EXPECT_EQ(fresh, nullptr); });
  expect_same(&copy, model);
  for (const int n : {2147483600, 300000000}) {  // past what a count, then the segments, can hold
    const auto sweep = testsupport::oom_sweep([&] { har_append(&har, n, nullptr); }, unchanged, 3);
    EXPECT_EQ(sweep.recoveries, 3) << n;
    EXPECT_EQ(sweep.failure, "");
  }
  XAR_FREE(&x);
  har_free(&fresh);
  har_free(&copy);
  har_free(&har);
}

}  // namespace
