// The runtime's thread layer, single-threaded: its locks and thread operations do nothing and
// its thread-local slots are process-wide. Results are 0 or one of the THREAD_ codes.
#pragma once
#include <stdint.h>
#include "platform/kel_base.h"

KEL_BEGIN_C
enum {
  THREAD_OK = 0,
  THREAD_SYSTEM_CALL_FAILED = 1,
  THREAD_ALREADY_INITIALIZED = 2,
  THREAD_TLS_NOT_INITIALIZED = 3,  // has no text of its own
  THREAD_TOO_MANY = 4,
  THREAD_MAIN_ONLY = 5,
  THREAD_INVALID_THREAD = 6,
  THREAD_INVALID_MUTEX = 7,
  THREAD_NOT_OWNER = 8,
  THREAD_STILL_LOCKED = 9,
  THREAD_INVALID_SEMAPHORE = 10,
  THREAD_INVALID_RWLOCK = 11,
  THREAD_NOT_READ_LOCKED = 12,
  THREAD_NOT_WRITE_LOCKED = 13,
  THREAD_SECTION_STARTED = 14,
  THREAD_SECTION_NOT_STARTED = 15,
  THREAD_ALREADY_OWNER = 16,
  THREAD_INVALID_TLS_KEY = 17,
  THREAD_INVALID_TLS_TYPE = 18,
};
#define THREAD_TLS_SLOTS 50

// The text of a thread-layer code; "ZV: Unknown error." for a code without one.
const char* thread_error_text(int code);

// Thread-local slots. Types 0 and 1 hold one word (word2 is ignored), type 2 two words.
// create: the first free of the 50 slots, its number in *key; 4 when none is free, 18 for
// another type. set/get/delete: 3 before the first create, 17 for a key outside 0 to 49 or
// a free slot. delete sets *key to -1.
int tls_key_create(int* key, int type, intptr_t word1, intptr_t word2);
int tls_key_set(int key, intptr_t word1, intptr_t word2);
int tls_key_get(int key, intptr_t* word1, intptr_t* word2);
int tls_key_delete(int* key);

// Locks: always made, taking and releasing them does nothing. Each returns 0.
int thread_mutex_create(int* mutex);
int thread_mutex_lock(int mutex);
int thread_mutex_unlock(int mutex);
int thread_mutex_delete(int* mutex);
// Sets *is_main to 1 (there is only the main thread); returns 0.
int thread_is_main(int* is_main);
// Runs function(argument) at once on the calling thread and sets *thread_id to -1; 0.
int thread_run(void (*function)(void*), void* argument, int* thread_id);
// Waits for a thread started by thread_run: it has already ended. Returns 0.
int thread_join(int thread_id);
KEL_END_C
