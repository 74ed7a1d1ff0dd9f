#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fresh_process.h"
#include "oom_sweep.h"
#include "runtime/diag/diag.h"
#include "runtime/sys/hostname.h"

namespace {

// A stand-in resolver: hosts "hN" (N = 0..19) with the aliases "hN-a" and "hN-b" and the
// address N.N.N.N; "hN.full" is the official name. Counts its calls.
struct FakeHost {
  std::string name, alias_a, alias_b;
  char address[4];
  char* aliases[3];
  char* addresses[2];
  kel_hostent entry;
};
int resolver_calls = 0;
int64_t fake_now = 1000;

const kel_hostent* fake_resolver(const char* name) {
  static std::map<std::string, FakeHost*> hosts;
  ++resolver_calls;
  std::string n = name;
  if (n.rfind("h", 0) != 0 || n.find('-') != std::string::npos || n.find('.') != std::string::npos)
    return nullptr;
  FakeHost*& h = hosts[n];
  if (!h) {
    h = new FakeHost;
    h->name = n + ".full", h->alias_a = n + "-a", h->alias_b = n + "-b";
    memset(h->address, atoi(name + 1), 4);
    h->aliases[0] = h->alias_a.data(), h->aliases[1] = h->alias_b.data(), h->aliases[2] = nullptr;
    h->addresses[0] = h->address, h->addresses[1] = nullptr;
    h->entry = kel_hostent{h->name.data(), h->aliases, 2, 4, h->addresses};
  }
  return &h->entry;
}
int64_t fake_clock() { return fake_now; }
int64_t ticking_clock() { return fake_now++; }

void use_fakes() {
  kel_host_resolver_set(fake_resolver);
  kel_host_clock_set(fake_clock);
  resolver_calls = 0;
}

// Looks `name` up and checks the answer is host `n`.
void expect_host(const char* name, int n) {
  kel_hostent* h = kel_gethostbyname(name);
  ASSERT_NE(nullptr, h) << name;
  EXPECT_EQ("h" + std::to_string(n) + ".full", std::string(h->h_name));
  ASSERT_NE(nullptr, h->h_addr_list[0]);
  EXPECT_EQ(n, h->h_addr_list[0][3]);
  EXPECT_EQ(nullptr, h->h_addr_list[1]);
  EXPECT_EQ(4, h->h_length);
}

TEST(HostCache, ShortcutAliasesAndEviction) {
  fresh_process::in_own_process([] {
    use_fakes();
    EXPECT_EQ(nullptr, kel_gethostbyname(""));  // no shortcut before a success
    EXPECT_EQ(1, resolver_calls);
    kel_hostent* first = kel_gethostbyname("h0");
    EXPECT_EQ(first, fake_resolver("h0"));  // a miss answers the resolver's entry
    resolver_calls = 0;
    kel_hostent* cached = kel_gethostbyname("h0");  // the shortcut: the cache's copy
    EXPECT_NE(cached, first);
    EXPECT_EQ(cached, kel_gethostbyname("h0-b"));
    EXPECT_EQ(cached, kel_gethostbyname("h0.full"));
    EXPECT_STREQ("h0-a", cached->h_aliases[0]);
    EXPECT_EQ(0, resolver_calls);
    // Six hosts fill the cache, one a second; h0 is used again last.
    for (int i = 1; i < 6; i++) {
      fake_now = 1000 + i;
      expect_host(("h" + std::to_string(i)).c_str(), i);
    }
    fake_now = 1010;
    expect_host("h0-a", 0);
    EXPECT_EQ(5, resolver_calls);
    // The seventh replaces h1, the least recently used; h0 stays.
    expect_host("h6", 6);
    resolver_calls = 0;
    expect_host("h0", 0);
    expect_host("h2-a", 2);
    EXPECT_EQ(0, resolver_calls);
    expect_host("h1", 1);
    EXPECT_EQ(1, resolver_calls);
    // An unresolvable name: null, nothing cached, the shortcut kept.
    EXPECT_EQ(nullptr, kel_gethostbyname("nowhere"));
    resolver_calls = 0;
    expect_host("h1", 1);
    EXPECT_EQ(0, resolver_calls);
    // Ties: every entry last used in the same second; the lowest index goes.
    fake_now = 2000;
    for (const char* n : {"h0", "h1", "h2", "h3", "h4", "h6"}) expect_host(n, n[1] - '0');
    expect_host("h7", 7);  // replaces entry 0 (h0)
    resolver_calls = 0;
    for (const char* n : {"h1", "h2", "h3", "h4", "h6", "h7"}) expect_host(n, n[1] - '0');
    EXPECT_EQ(0, resolver_calls);
    expect_host("h0", 0);
    EXPECT_EQ(1, resolver_calls);
  });
}

// Names of 64 characters or more are answered without being cached.
TEST(HostCache, LongNamesAreNotCached) {
  fresh_process::in_own_process([] {
    use_fakes();
    std::string name = "h9" + std::string(70, '9');
    kel_hostent* h = kel_gethostbyname(name.c_str());
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(h, kel_gethostbyname(name.c_str()));  // the resolver's own entry both times
    EXPECT_EQ(2, resolver_calls);
    expect_host("h3", 3);
    EXPECT_EQ(3, resolver_calls);
  });
}

TEST(HostCache, Trace) {
  std::string said = testsupport::run_child(
      [] {
        use_fakes();
        order_debug_level_set(3985241);
        kel_gethostbyname("h1");
        kel_gethostbyname("h1");
        kel_gethostbyname("h1-a");
        kel_gethostbyname("h1");
      },
      testsupport::exits(0), {.start = testsupport::ChildStart::Fresh});
  EXPECT_EQ(
      "kel_gethostbyname( h1 ): cache MISS\nkel_gethostbyname( h1 ): cache HIT (matched last)\n"
      "kel_gethostbyname( h1-a ): cache HIT\nkel_gethostbyname( h1 ): cache HIT\n",
      said);
}

// Running out of memory while an entry is filled or replaced leaves the cache as it was.
TEST(HostCache, OutOfMemoryLeavesTheCacheWhole) {
  fresh_process::in_own_process([] {
    use_fakes();
    kel_host_clock_set(ticking_clock);  // no ties: the least recently used is plain
    static int next = 0;
    // The hosts stored before still answer from the cache, by an alias.
    auto check = [] {
      const int calls = resolver_calls;
      for (int i = next > 6 ? next - 6 : 0; i < next; i++) {
        std::string n = "h" + std::to_string(i);
        kel_hostent* h = kel_gethostbyname((n + "-b").c_str());
        ASSERT_NE(nullptr, h) << n;
        EXPECT_EQ(n + ".full", std::string(h->h_name));
      }
      EXPECT_EQ(calls, resolver_calls);
    };
    for (next = 0; next < 9; next++) {
      std::string n = "h" + std::to_string(next);
      auto op = [&n] { kel_gethostbyname(n.c_str()); };
      testsupport::OomSweepResult r = testsupport::oom_sweep(op, check, 10000, false);
      EXPECT_TRUE(r.completed);
      EXPECT_GT(r.recoveries, 0);
      EXPECT_EQ("", r.failure);
    }
  });
}

// The platform's resolver, on a numeric address (answered without the hosts file or a name
// server): the cache keeps a copy of its answer.
TEST(HostCache, ResolvesANumericAddress) {
  fresh_process::in_own_process([] {
    kel_hostent* h = kel_gethostbyname("127.0.0.1");
    ASSERT_NE(nullptr, h);
    ASSERT_NE(nullptr, h->h_addr_list);
    ASSERT_NE(nullptr, h->h_addr_list[0]);
    EXPECT_EQ(4, h->h_length);
    EXPECT_EQ(0, std::memcmp("\x7f\0\0\x01", h->h_addr_list[0], 4));
    kel_hostent* cached = kel_gethostbyname("127.0.0.1");  // the shortcut gives the cache's copy
    EXPECT_NE(h, cached);
    EXPECT_EQ(cached, kel_gethostbyname("127.0.0.1"));
    ASSERT_NE(nullptr, cached->h_addr_list[0]);
    EXPECT_EQ(0, std::memcmp("\x7f\0\0\x01", cached->h_addr_list[0], 4));
  });
}

}  // namespace
