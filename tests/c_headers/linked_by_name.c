// A caller without the headers: its own prototypes, so every call must find a symbol by name.
#include <stddef.h>

struct kel_lock {
  int created;
};
void kel_lock_take(struct kel_lock* lock);
void kel_lock_release(struct kel_lock* lock);
void* har_alloc(int object_size, int extension);
void* har_object(const void* p_har, int index, int* segment, int* offset);
void har_append(void* p_har, int n, const void* src);
void har_free(void* p_har);

int linked_by_name(void) {
  struct kel_lock lock = {1};
  kel_lock_take(&lock);
  kel_lock_release(&lock);
  void* har = har_alloc(4, 0);
  const int value = 7;
  har_append(&har, 1, &value);
  const int* got = (const int*)har_object(&har, 0, NULL, NULL);
  const int ok = got && *got == 7 && !har_object(&har, 1, NULL, NULL);
  har_free(&har);
  return ok;
}
