// Traps: a stack of frames, each with a class mask, a saved jump buffer and a list of
// cleanups; firing runs the cleanups and jumps back to the innermost frame for the class.
#include "runtime/diag/trap.h"

#include <stdarg.h>
#include <string.h>

#include "runtime/diag/diag.h"
#include "runtime/diag/thread.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"
#include "runtime/xar/xar.h"

namespace {

constexpr int kFrameGrowth = 7;

struct TrapCleanup {
  trap_cleanup_fn function;
  intptr_t args[16];
  TrapCleanup* next;  // the next older cleanup
};

constexpr int kMaxWords = 8;

struct TrapFrame {
  uint32_t mask;
  jmp_buf buffer;
  TrapCleanup* cleanups;  // newest first
  int word_count;         // registered words when the frame was pushed
  int words[kMaxWords];   // and their values then
};

// The words that follow the call stack, with their values when they were registered.
struct StackWords {
  int* word[kMaxWords];
  int start[kMaxWords];
  int count;
};
StackWords stack_words;

void restore_words(const TrapFrame& frame) {
  for (int i = 0; i < stack_words.count; ++i)
    *stack_words.word[i] = i < frame.word_count ? frame.words[i] : stack_words.start[i];
}

struct TrapContext {
  TrapFrame* frames;  // xarray; the last frame is the innermost
  int enabled;
  int pending;
  uint32_t pending_code;
  int busy;
  // While a fire runs: the number of frames it owns. Frames above them were pushed by the
  // running cleanup's own work and may be popped and given cleanups as usual.
  int fire_floor;
};

TrapContext* process_context = nullptr;
TrapContext spare_context;  // used only when not even the context record can be allocated
int trap_tls_key = -1;
bool trap_tls_ready = false;

TrapContext* shared_context() {
  if (!process_context) {
    // Not getmem: its out-of-memory path fires the traps, which would come back here.
    auto* context = static_cast<TrapContext*>(getmem_or_null(sizeof(TrapContext)));
    process_context = context ? context : &spare_context;
    process_context->enabled = 1;
  }
  return process_context;
}

// The calling thread's context. The layer is single-threaded, so the thread-local slot
// holds the process's one context.
TrapContext* current_context() {
  if (trap_tls_ready) {
    intptr_t word = 0;
    if (tls_key_get(trap_tls_key, &word, nullptr) == THREAD_OK) {
      if (!word) {
        word = reinterpret_cast<intptr_t>(shared_context());
        tls_key_set(trap_tls_key, word, 0);
      }
      return reinterpret_cast<TrapContext*>(word);
    }
  }
  return shared_context();
}

int frame_count(TrapContext* context) { return XAR_COUNT(&context->frames); }

TrapFrame* top_frame(TrapContext* context) {
  return static_cast<TrapFrame*>(XAR_LAST(&context->frames));
}

// True when a fire is running and the top frame is one it owns.
bool top_frame_is_firing(TrapContext* context) {
  return context->busy && frame_count(context) <= context->fire_floor;
}

void release_cleanups(TrapCleanup* cleanup) {
  while (cleanup) {
    TrapCleanup* next = cleanup->next;
    rlsmem(cleanup);
    cleanup = next;
  }
}

void remove_top_frame(TrapContext* context) {
  release_cleanups(top_frame(context)->cleanups);
  XAR_SHRINK(&context->frames, 1);
}

// Runs and releases the cleanups of frame `index`, newest first. Each is unlinked before it
// runs, so a cleanup never sees itself on the list. Frames that a cleanup pushed and did not
// pop belong to routines that have returned; they are removed so that nothing jumps to them.
void run_cleanups(TrapContext* context, int index) {
  while (TrapCleanup* cleanup = context->frames[index].cleanups) {
    context->frames[index].cleanups = cleanup->next;
    const intptr_t* a = cleanup->args;
    cleanup->function(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
                      a[12], a[13], a[14], a[15]);
    rlsmem(cleanup);
    while (frame_count(context) > index + 1) remove_top_frame(context);
  }
}

}  // namespace

void init_trap_tls(void) {
  if (trap_tls_ready) return;
  int key = -1;
  if (int error = tls_key_create(&key, 0, 0, 0)) {
    message_print("init_trap_tls: %s\n", thread_error_text(error));
    return;
  }
  trap_tls_key = key;
  trap_tls_ready = true;
}

int trap_push(jmp_buf buffer, uint32_t mask) {
  TrapContext* context = current_context();
  TrapFrame frame{};
  frame.mask = mask;
  memcpy(frame.buffer, buffer, sizeof(jmp_buf));
  frame.word_count = stack_words.count;
  for (int i = 0; i < stack_words.count; ++i) frame.words[i] = *stack_words.word[i];
  if (!context->frames)
    context->frames = static_cast<TrapFrame*>(XAR_ALLOC(0, sizeof(TrapFrame), kFrameGrowth));
  XAR_APPEND(&context->frames, 1, &frame);
  return 0;
}

int trap_pop(void) {
  TrapContext* context = current_context();
  if (frame_count(context) == 0 || top_frame_is_firing(context)) return 0;
  remove_top_frame(context);
  return 1;
}

int trap_fire(uint32_t code) {
  TrapContext* context = current_context();
  if (context->busy) return 0;
  context->busy = 1;
  if (frame_count(context) == 0) {
    context->busy = 0;
    return 0;
  }
  if (!context->enabled) {
    context->pending = 1;
    context->pending_code = code;
    context->busy = 0;
    return 0;
  }
  for (int top = frame_count(context) - 1; top >= 0; top = frame_count(context) - 1) {
    context->fire_floor = top + 1;
    run_cleanups(context, top);
    const TrapFrame& frame = context->frames[top];
    if (frame.mask & code) {
      jmp_buf target;
      memcpy(target, frame.buffer, sizeof target);
      restore_words(frame);
      context->busy = 0;
      context->fire_floor = 0;
      longjmp(target, 1);
    }
    remove_top_frame(context);
  }
  fputs(" ALL TRAPS EXAUSTED\n", stdout);
  context->busy = 0;
  context->fire_floor = 0;
  return 0;
}

int trap_cleanup_add(trap_cleanup_fn function, const intptr_t args[16]) {
  TrapContext* context = current_context();
  if (!function || frame_count(context) == 0 || top_frame_is_firing(context)) return 0;
  // A heap block, never an automatic clump's object: opening a clump registers a cleanup itself.
  auto* cleanup = static_cast<TrapCleanup*>(manage_memory(sizeof(TrapCleanup), nullptr, 0, 0));
  if (!cleanup) return 0;
  cleanup->function = function;
  if (args) memcpy(cleanup->args, args, sizeof cleanup->args);
  TrapFrame* frame = top_frame(context);
  cleanup->next = frame->cleanups;
  frame->cleanups = cleanup;
  return 1;
}

int trap_cleanup_drop(void) {
  TrapContext* context = current_context();
  if (frame_count(context) == 0 || top_frame_is_firing(context)) return 0;
  TrapFrame* frame = top_frame(context);
  TrapCleanup* cleanup = frame->cleanups;
  if (!cleanup) return 0;
  frame->cleanups = cleanup->next;
  rlsmem(cleanup);
  return 1;
}

int trap_word_register(int* word) {
  for (int i = 0; i < stack_words.count; ++i)
    if (stack_words.word[i] == word) return 1;
  if (!word || stack_words.count == kMaxWords) return 0;
  stack_words.word[stack_words.count] = word;
  stack_words.start[stack_words.count] = *word;
  ++stack_words.count;
  return 1;
}

namespace {
void release_held(intptr_t held, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                  intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                  intptr_t) {
  auto* record = reinterpret_cast<trap_block*>(held);
  void* data = record->data;
  record->data = nullptr;
  rlsmem(data);
}
}  // namespace

void* trap_block_get(trap_block* held, int size) {
  if (!held || size < 0) {
    misuse_stop("trap_block_get", "invalid request");
    return nullptr;
  }
  held->data = nullptr;
  const intptr_t args[16] = {reinterpret_cast<intptr_t>(held)};
  // The cleanup comes first: once the block exists, a jump finds it registered.
  held->guarded = trap_cleanup_add(release_held, args);
  held->data = getmem(size);
  return held->data;
}

void trap_block_release(trap_block* held) {
  void* data = held->data;
  held->data = nullptr;
  rlsmem(data);
  if (held->guarded) trap_cleanup_drop();
  held->guarded = 0;
}

void* trap_block_keep(trap_block* held) {
  void* data = held->data;
  held->data = nullptr;
  if (held->guarded) trap_cleanup_drop();
  held->guarded = 0;
  return data;
}

void traps_enable(void) {
  TrapContext* context = current_context();
  context->enabled = 1;
  if (context->pending) {
    context->pending = 0;
    trap_fire(context->pending_code);
  }
}

void traps_disable(void) { current_context()->enabled = 0; }

int traps_enabled(void) { return current_context()->enabled; }

int fputs_or_trap(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* text = kel_vsprintf(nullptr, format, args);
  va_end(args);
  if (!text || !stream || fputs(text, stream) == EOF) return trap_fire(TRAP_CLASS_WRITE_FAILED);
  return static_cast<int>(strlen(text));
}
