// The single-threaded thread layer: error texts, thread-local slots and do-nothing locks.
#include "runtime/diag/thread.h"

#include <array>

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// Searched in this order; code 3 has no text of its own.
constexpr std::array<ErrorText, 18> error_texts{{
    {THREAD_OK, "ZV: No error."},
    {THREAD_SYSTEM_CALL_FAILED, "ZV: The system call failed."},
    {THREAD_ALREADY_INITIALIZED, "ZV: The toolkit has already been initialized."},
    {THREAD_TOO_MANY, "ZV: Too many of this resource have already been created."},
    {THREAD_MAIN_ONLY, "ZV: Only the main thread can do this operation."},
    {THREAD_INVALID_THREAD, "ZV: Invalid thread id."},
    {THREAD_INVALID_MUTEX, "ZV: Invalid mutex id."},
    {THREAD_NOT_OWNER, "ZV: Not owner."},
    {THREAD_ALREADY_OWNER, "ZV: Already owner."},
    {THREAD_STILL_LOCKED, "ZV: Still locked."},
    {THREAD_INVALID_SEMAPHORE, "ZV: Invalid semaphore id."},
    {THREAD_INVALID_RWLOCK, "ZV: Invalid reader/writer lock id."},
    {THREAD_NOT_READ_LOCKED, "ZV: Not locked for read."},
    {THREAD_NOT_WRITE_LOCKED, "ZV: Not locked for write."},
    {THREAD_SECTION_STARTED, "ZV: A threaded section has already been started."},
    {THREAD_SECTION_NOT_STARTED, "ZV: A threaded section has not yet been started."},
    {THREAD_INVALID_TLS_KEY, "ZV: Invalid thread local storage key."},
    {THREAD_INVALID_TLS_TYPE, "ZV: Invalid thread local storage type."},
}};

struct Slot {
  bool in_use;
  int type;
  intptr_t word1;
  intptr_t word2;
};

std::array<Slot, THREAD_TLS_SLOTS> slots;
bool slots_initialised = false;

// The slot behind `key`, or the error code that refuses it.
int used_slot(int key, Slot** slot) {
  if (!slots_initialised) return THREAD_TLS_NOT_INITIALIZED;
  if (key < 0 || key >= THREAD_TLS_SLOTS || !slots[key].in_use) return THREAD_INVALID_TLS_KEY;
  *slot = &slots[key];
  return THREAD_OK;
}

}  // namespace

const char* thread_error_text(int code) {
  for (const ErrorText& entry : error_texts)
    if (entry.code == code) return entry.text;
  return "ZV: Unknown error.";
}

int tls_key_create(int* key, int type, intptr_t word1, intptr_t word2) {
  if (!key) return THREAD_INVALID_TLS_KEY;  // nowhere to give the key
  if (!slots_initialised) {
    slots = {};
    slots_initialised = true;
  }
  for (int i = 0; i < THREAD_TLS_SLOTS; ++i) {
    Slot& slot = slots[i];
    if (slot.in_use) continue;
    if (type < 0 || type > 2) return THREAD_INVALID_TLS_TYPE;
    slot = Slot{true, type, word1, type == 2 ? word2 : 0};
    *key = i;
    return THREAD_OK;
  }
  return THREAD_TOO_MANY;
}

int tls_key_set(int key, intptr_t word1, intptr_t word2) {
  Slot* slot = nullptr;
  if (int error = used_slot(key, &slot)) return error;
  slot->word1 = word1;
  if (slot->type == 2) slot->word2 = word2;
  return THREAD_OK;
}

int tls_key_get(int key, intptr_t* word1, intptr_t* word2) {
  Slot* slot = nullptr;
  if (int error = used_slot(key, &slot)) return error;
  if (word1) *word1 = slot->word1;
  if (slot->type == 2 && word2) *word2 = slot->word2;
  return THREAD_OK;
}

int tls_key_delete(int* key) {
  if (!key) return THREAD_INVALID_TLS_KEY;
  if (!slots_initialised) return THREAD_TLS_NOT_INITIALIZED;
  // A key outside the table is refused rather than written through.
  if (*key < 0 || *key >= THREAD_TLS_SLOTS) return THREAD_INVALID_TLS_KEY;
  slots[*key] = Slot{};
  *key = -1;
  return THREAD_OK;
}

int thread_mutex_create(int* mutex) {
  if (mutex) *mutex = 0;
  return THREAD_OK;
}
int thread_mutex_lock(int) { return THREAD_OK; }
int thread_mutex_unlock(int) { return THREAD_OK; }
int thread_mutex_delete(int* mutex) {
  if (mutex) *mutex = -1;
  return THREAD_OK;
}

int thread_is_main(int* is_main) {
  if (is_main) *is_main = 1;
  return THREAD_OK;
}

int thread_run(void (*function)(void*), void* argument, int* thread_id) {
  if (function) function(argument);
  if (thread_id) *thread_id = -1;
  return THREAD_OK;
}

int thread_join(int) { return THREAD_OK; }
