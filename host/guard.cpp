#include "host/guard.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "host/host.h"
#include "platform/exceptions.h"

namespace mirax::guard {

namespace {

// Read by the handlers, so plain storage: what runs, the visit whose callback runs, the last
// call answered.
char running[256];
std::atomic<const char*> running_visit{nullptr};
std::atomic<const char*> last_symbol{nullptr};
std::atomic<int> last_call{0};

// Appends to a fixed buffer without allocating (the handlers run after a crash).
struct Text {
  char data[1024];
  size_t size = 0;
  Text& operator<<(const char* s) {
    while (*s && size + 1 < sizeof data) data[size++] = *s++;
    data[size] = 0;
    return *this;
  }
  Text& operator<<(long n) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%ld", n);
    return *this << digits;
  }
};

// The host function name without "_v".
void add_function(Text& text, const char* symbol) {
  const size_t n = std::strlen(symbol);
  const size_t keep = n > 2 && std::strcmp(symbol + n - 2, "_v") == 0 ? n - 2 : n;
  for (size_t i = 0; i < keep && text.size + 1 < sizeof text.data; ++i)
    text.data[text.size++] = symbol[i];
  text.data[text.size] = 0;
}

void add_last(Text& text) {
  const char* symbol = last_symbol.load();
  if (!symbol) {
    text << "; the host had answered no call";
    return;
  }
  text << "; the host last answered ";
  add_function(text, symbol);
  text << " call " << static_cast<long>(last_call.load());
}

[[noreturn]] void end_run(Text& text, ExitStatus status) {
  text << "\n";
  platform_write_error(text.data);
  std::_Exit(status);
}

[[noreturn]] void on_fatal(platform_fatal_kind kind, const char* what) {
  Text text;
  const char* visit = running_visit.load();
  if (kind == PLATFORM_FATAL_UNCAUGHT && visit) {
    text << "mirax: an exception left the ";
    add_function(text, visit);
    text << " callback in " << running << ": " << what;
    end_run(text, kExitMisbehaved);
  }
  if (kind == PLATFORM_FATAL_UNCAUGHT)
    text << "mirax: an exception left " << (running[0] ? running : "mirax") << ": " << what;
  else
    text << "mirax: " << (running[0] ? running : "mirax") << " crashed: " << what;
  add_last(text);
  end_run(text, kind == PLATFORM_FATAL_UNCAUGHT ? kExitException : kExitCrash);
}

void on_exit() {
  if (!running[0]) return;
  Text text;
  text << "mirax: " << running << " called exit(), ending the host's process";
  add_last(text);
  end_run(text, kExitMisbehaved);
}

// The watchdog: one thread, started by the first arm(); never destroyed, since the thread may
// still wait on it while the process exits.
struct Watchdog {
  std::mutex mutex;
  std::condition_variable changed;
  long generation = 0;
  int seconds = 0;  // 0: disarmed
  bool started = false;
};
Watchdog& watchdog = *new Watchdog;

void watch() {
  std::unique_lock lock(watchdog.mutex);
  for (;;) {
    watchdog.changed.wait(lock, [] { return watchdog.seconds > 0; });
    const long generation = watchdog.generation;
    const int seconds = watchdog.seconds;
    if (watchdog.changed.wait_for(lock, std::chrono::seconds(seconds),
                                  [&] { return watchdog.generation != generation; }))
      continue;
    Text text;
    text << "mirax: " << running << " did not return within " << static_cast<long>(seconds)
         << " second(s)";
    add_last(text);
    end_run(text, kExitTimeout);
  }
}

}  // namespace

void install() {
  platform_on_fatal(on_fatal);
  std::atexit(on_exit);
}

void enter(const std::string& activity) {
  std::snprintf(running, sizeof running, "%s", activity.c_str());
}

void leave() { running[0] = 0; }

CallbackScope::CallbackScope(const char* visit) : outer_(running_visit.exchange(visit)) {}
CallbackScope::~CallbackScope() { running_visit.store(outer_); }

void answered(const char* symbol, int call) {
  last_symbol.store(symbol);
  last_call.store(call);
}

void reset_answered() { last_symbol.store(nullptr); }

std::string last_answered() {
  Text text;
  add_last(text);
  return text.data;
}

std::string activity() { return running; }

void arm(int seconds) {
  if (seconds <= 0) return;
  std::lock_guard lock(watchdog.mutex);
  ++watchdog.generation;
  watchdog.seconds = seconds;
  if (!watchdog.started) {
    std::thread(watch).detach();
    watchdog.started = true;
  }
  watchdog.changed.notify_all();
}

void disarm() {
  std::lock_guard lock(watchdog.mutex);
  ++watchdog.generation;
  watchdog.seconds = 0;
  watchdog.changed.notify_all();
}

std::string callback_exception_message(const char* visit, const std::string& text) {
  return "mirax: an exception left the " + host_function_name(visit) + " callback in " +
         activity() + ": " + text;
}

}  // namespace mirax::guard
