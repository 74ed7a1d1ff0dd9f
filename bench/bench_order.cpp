// The ordering algorithms beside their peers: sort_array against qsort and std::sort, the
// red-black tree against std::map, the priority queue against std::priority_queue, and the
// partial order's time and relation calls.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <queue>
#include <random>
#include <vector>

#include "runtime/mem/mem.h"
#include "runtime/order/btree.h"
#include "runtime/order/partial_order.h"
#include "runtime/order/pqueue.h"
#include "runtime/order/sort.h"

namespace {

constexpr int kMillion = 1000000;

struct Record {
  int key;
  char rest[60];
};

int compare_ints(const void* a, const void* b) {
  const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}

// Input shapes: 0 random, 1 sorted, 2 reversed, 3 organ pipe.
std::vector<int> ints(int shape) {
  std::vector<int> v(kMillion);
  std::mt19937 rng(42);
  for (int i = 0; i < kMillion; ++i)
    v[i] = shape == 0   ? int(rng())
           : shape == 1 ? i
           : shape == 2 ? kMillion - i
                        : std::min(i, kMillion - i);
  return v;
}

std::vector<Record> records() {
  std::vector<Record> v(kMillion);
  std::mt19937 rng(42);
  for (Record& r : v) r.key = int(rng());
  return v;
}

// Times the sort of a fresh copy of `input` in each round.
template <class T, class Sort>
void time_sort(benchmark::State& state, const std::vector<T>& input, Sort sort) {
  std::vector<T> v;
  for (auto _ : state) {
    state.PauseTiming();
    v = input;
    state.ResumeTiming();
    sort(v);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
}

void BM_SortArrayInts(benchmark::State& s) {
  const int shape = int(s.range(0));
  time_sort(s, ints(shape),
            [](std::vector<int>& v) { sort_array(kMillion, compare_ints, v.data(), sizeof(int)); });
}
void BM_QsortInts(benchmark::State& s) {
  time_sort(s, ints(int(s.range(0))),
            [](std::vector<int>& v) { qsort(v.data(), kMillion, sizeof(int), compare_ints); });
}
void BM_StdSortInts(benchmark::State& s) {
  time_sort(s, ints(int(s.range(0))), [](std::vector<int>& v) { std::sort(v.begin(), v.end()); });
}
void BM_SortArrayRecords(benchmark::State& s) {
  time_sort(s, records(), [](std::vector<Record>& v) {
    sort_array(kMillion, compare_ints, v.data(), sizeof(Record));
  });
}
void BM_QsortRecords(benchmark::State& s) {
  time_sort(s, records(), [](std::vector<Record>& v) {
    qsort(v.data(), kMillion, sizeof(Record), compare_ints);
  });
}
void BM_StdSortRecords(benchmark::State& s) {
  time_sort(s, records(), [](std::vector<Record>& v) {
    std::sort(v.begin(), v.end(), [](const Record& a, const Record& b) { return a.key < b.key; });
  });
}

// ---- trees: each phase timed on its own ----
int compare_keys(int a, int b) { return (a > b) - (a < b); }

std::vector<int> tree_keys() {
  std::vector<int> k(kMillion);
  std::mt19937 rng(7);
  for (int& x : k) x = int(rng() >> 1);
  return k;
}

// Finds and deletes visit the keys in an order of their own: in insertion order, std::map's nodes
// would be met in the order malloc laid them out, while the key-copying deletion of the red-black
// tree moves keys between nodes.
std::vector<int> shuffled(std::vector<int> k) {
  std::shuffle(k.begin(), k.end(), std::mt19937(11));
  return k;
}

void BM_RbtreePhase(benchmark::State& state) {
  const int phase = int(state.range(0));  // 0 insert, 1 find, 2 delete
  const std::vector<int> keys = tree_keys(), visits = shuffled(keys);
  for (auto _ : state) {
    state.PauseTiming();
    btree* t = rbtree_create(0);
    if (phase > 0)
      for (int k : keys) rbtree_insert(t, k, compare_keys);
    state.ResumeTiming();
    if (phase == 0)
      for (int k : keys) benchmark::DoNotOptimize(rbtree_insert(t, k, compare_keys));
    if (phase == 1)
      for (int k : visits) benchmark::DoNotOptimize(btree_find(t, k, compare_keys));
    if (phase == 2)
      for (int k : visits) benchmark::DoNotOptimize(rbtree_delete(t, k, compare_keys));
    state.PauseTiming();
    rbtree_free(&t);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
}

void BM_StdMapPhase(benchmark::State& state) {
  const int phase = int(state.range(0));
  const std::vector<int> keys = tree_keys(), visits = shuffled(keys);
  for (auto _ : state) {
    state.PauseTiming();
    auto* m = new std::map<int, int>;
    if (phase > 0)
      for (int k : keys) m->emplace(k, k);
    state.ResumeTiming();
    if (phase == 0)
      for (int k : keys) benchmark::DoNotOptimize(m->emplace(k, k));
    if (phase == 1)
      for (int k : visits) benchmark::DoNotOptimize(m->find(k));
    if (phase == 2)
      for (int k : visits) benchmark::DoNotOptimize(m->erase(k));
    state.PauseTiming();
    delete m;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
}

// ---- priority queue: a million pushes then pops, as two queues of half a million (an int
// xarray holds at most 511,996 items) ----
constexpr int kQueueRounds = 2;
constexpr int kQueueItems = kMillion / kQueueRounds;

void BM_PqueuePushPop(benchmark::State& state) {
  std::mt19937 rng(3);
  std::vector<int> items(kQueueItems);
  for (int& x : items) x = int(rng() >> 1);
  for (auto _ : state) {
    for (int r = 0; r < kQueueRounds; ++r) {
      pqueue* q = pqueue_create(nullptr, nullptr, 16, PQUEUE_LARGEST_FIRST);
      for (int x : items) pqueue_push(q, x);
      while (!pqueue_is_empty(q)) benchmark::DoNotOptimize(pqueue_pop(q));
      pqueue_free(&q);
    }
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
}

void BM_StdPriorityQueuePushPop(benchmark::State& state) {
  std::mt19937 rng(3);
  std::vector<int> items(kQueueItems);
  for (int& x : items) x = int(rng() >> 1);
  for (auto _ : state) {
    for (int r = 0; r < kQueueRounds; ++r) {
      std::priority_queue<int> q;
      for (int x : items) q.push(x);
      while (!q.empty()) {
        benchmark::DoNotOptimize(q.top());
        q.pop();
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
}

// ---- partial order of 2,000 items: random relations, many of them cyclic ----
long g_relation_calls = 0;
int random_relation(void*, int i, int j, void*) {
  ++g_relation_calls;
  const unsigned h = unsigned(i) * 2654435761u ^ unsigned(j) * 40503u;
  if (h % 50) return 0;  // about 40,000 relations among the 2 million pairs
  const int forward = int(h >> 8) % 3, backward = int(h >> 12) % 3;
  return SORTPARTL_CODE(forward, backward);
}

void BM_PartialOrder2000(benchmark::State& state) {
  constexpr int n = 2000;
  std::vector<int> items(n);
  long calls = 0;
  for (auto _ : state) {
    g_relation_calls = 0;
    void** order = nullptr;
    const int rc =
        get_partial_order_with_circles(items.data(), n, sizeof(int), random_relation, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, &order);
    if (rc) state.SkipWithError("partial order failed");
    rlsmem(order);
    calls = g_relation_calls;
  }
  state.counters["relation_calls"] = double(calls);
}

}  // namespace

BENCHMARK(BM_SortArrayInts)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QsortInts)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSortInts)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortArrayRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QsortRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSortRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RbtreePhase)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdMapPhase)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PqueuePushPop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdPriorityQueuePushPop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartialOrder2000)->Unit(benchmark::kMillisecond);
