// The unordered comparison's held files: each file read once, its lines indexed by text and by
// shape, and the look-up of a line among them.
//
// What a look-up may skip, and why it finds what a scan of the whole file finds: two lines match
// only when they hold as many tokens and, token by token, equal texts or numbers that both read
// as numbers (integers and reals apart unless loose; loosely, a text of number characters counts
// as a number too, since its tail could equal a number's). Two numbers that match lie at most the
// absolute tolerance apart: reals and mixed pairs differ from |a-b| >= abs on, integers are equal
// or (loosely) within abs, and equal texts read as equal values. A wildcard, a pattern or a
// continuation line escapes these rules, so such lines are tried with every line.
#include <math.h>
#include <string.h>

#include <algorithm>

#include "runtime/mem/mem.h"
#include "runtime/tolcmp/tolcmp_internal.h"

namespace tolcmp {
namespace {

uint32_t hash_bytes(uint32_t h, const char* bytes, int length) {
  for (int i = 0; i < length; ++i) h = (h ^ (unsigned char)bytes[i]) * 16777619u;
  return h;
}
constexpr uint32_t kHashStart = 2166136261u;

// Grows a block of `count` items to hold one more: false when memory runs out.
template <typename T>
bool make_room(T** items, int count, int* capacity) {
  if (count < *capacity) return true;
  const int grown = *capacity ? *capacity * 2 : 1024;
  if (grown > INT32_MAX / 2 / (int)sizeof(T)) return false;
  T* moved = static_cast<T*>(relocmem(*items, grown * (int)sizeof(T)));
  if (!moved) return false;
  *items = moved;
  *capacity = grown;
  return true;
}

bool numeric_alphabet(Text t) {
  for (int i = 0; i < t.length; ++i)
    if (!strchr("0123456789.+-eEdD", t.text[i]) || t.text[i] == 0) return false;
  return true;
}

// The line's kind, shape hash and first numeric values; false when memory runs out.
bool describe(HeldLine* line, Text text, int loose_numbers, Scratch* scratch) {
  line->text_hash = hash_bytes(kHashStart, text.text, text.length);
  for (double& v : line->value) v = NAN;
  if (is_continuation_line(text)) {
    line->kind = HELD_ANY;
    return true;
  }
  if (!scratch_fit(scratch, text.length)) return false;
  uint32_t shape = kHashStart;
  int at = 0, numbers = 0, field = 0;
  Token token;
  const bool rules = field_rules_present();
  for (int taken; (taken = scan_token(text, at, scratch->token_a, &token)) > 0;) {
    at += token.skipped + taken;
    ++field;
    if (rules && field_skipped(field)) {  // any token matches there
      shape = hash_bytes(shape, "s", 1);
      continue;
    }
    int kind = token.kind;
    if (kind == TOKEN_WILDCARD ||
        (kind == TOKEN_TEXT && (memchr(token.text.text, '*', (size_t)token.text.length) ||
                                memchr(token.text.text, '?', (size_t)token.text.length)))) {
      line->kind = HELD_FREE;
      return true;
    }
    if (loose_numbers && kind == TOKEN_TEXT && numeric_alphabet(token.text)) kind = TOKEN_INTEGER;
    if (kind == TOKEN_TEXT) {
      shape = hash_bytes(shape, "t", 1);
      shape = hash_bytes(shape, token.text.text, token.text.length);
      shape = hash_bytes(shape, "", 1);
      continue;
    }
    const char mark = loose_numbers ? 'n' : kind == TOKEN_REAL ? 'r' : 'i';
    shape = hash_bytes(shape, &mark, 1);
    if (numbers < kHeldColumns) {
      bool infinite;
      const double v = token_number(token.text, token.kind, &infinite);
      line->value[numbers] = infinite ? INFINITY : v;
      line->field[numbers] = field;
    }
    ++numbers;
  }
  line->kind = HELD_PLAIN;
  line->shape_hash = shape;
  return true;
}

// Orders NaN after every number, so that a sort sees a strict order.
bool value_before(double a, double b) { return isnan(b) ? !isnan(a) : a < b; }

int distinct_values(double* values, int count) {
  std::sort(values, values + count, value_before);
  int distinct = count > 0;
  for (int i = 1; i < count; ++i) distinct += !(values[i] == values[i - 1]);
  return distinct;
}

// Orders lines by their values in the group's columns, one after the other.
struct ByColumns {
  const HeldLine* lines;
  const ShapeGroup* group;
  bool operator()(int a, int b) const {
    for (int k = 0; k < group->column_count; ++k) {
      const double x = lines[a].value[group->columns[k]], y = lines[b].value[group->columns[k]];
      if (value_before(x, y)) return true;
      if (value_before(y, x)) return false;
    }
    return a < b;
  }
};

// Groups the plain lines by shape and orders each group by its columns, the most varied first.
bool build_groups(HeldFile* held) {
  const int n = held->count;
  if (n == 0) return true;
  held->order = static_cast<int*>(getmem(n * (int)sizeof(int)));
  held->groups = static_cast<ShapeGroup*>(getmem(n * (int)sizeof(ShapeGroup)));
  held->work = static_cast<double*>(getmem(n * (int)sizeof(double)));
  held->free_lines = static_cast<int*>(getmem(n * (int)sizeof(int)));
  if (!held->order || !held->groups || !held->work || !held->free_lines) return false;
  const HeldLine* lines = held->lines;
  int plain = 0;
  for (int i = 0; i < n; ++i) {
    if (lines[i].kind == HELD_PLAIN)
      held->order[plain++] = i;
    else if (lines[i].kind == HELD_FREE)
      held->free_lines[held->free_count++] = i;
    else
      ++held->any_count;
  }
  std::sort(held->order, held->order + plain, [lines](int a, int b) {
    return lines[a].shape_hash != lines[b].shape_hash ? lines[a].shape_hash < lines[b].shape_hash
                                                      : a < b;
  });
  for (int first = 0, last; first < plain; first = last) {
    const uint32_t shape = lines[held->order[first]].shape_hash;
    for (last = first + 1; last < plain && lines[held->order[last]].shape_hash == shape;) ++last;
    ShapeGroup& g = held->groups[held->group_count++];
    g = ShapeGroup{shape, first, last - first, {}, 0, -1.0, 0};
    int distinct[kHeldColumns];
    for (int column = 0; column < kHeldColumns; ++column) {
      for (int i = first; i < last; ++i)
        held->work[i - first] = lines[held->order[i]].value[column];
      distinct[column] = distinct_values(held->work, last - first);
      if (distinct[column] > 1 && !isnan(held->work[0])) g.columns[g.column_count++] = column;
    }
    std::stable_sort(g.columns, g.columns + g.column_count,
                     [&distinct](int a, int b) { return distinct[a] > distinct[b]; });
    for (int i = first; i < last; ++i) {
      const Tolerances& set = lines[held->order[i]].set;
      if (isnan(set.abs_eps)) {
        g.inherits = 1;
      } else {
        g.max_abs = fmax(g.max_abs, set.abs_eps);
      }
    }
    if (g.column_count > 0)
      std::sort(held->order + first, held->order + last, ByColumns{lines, &g});
  }
  return true;
}

bool build_text_index(HeldFile* held) {
  int size = 16;
  while (size < 2 * held->count) size *= 2;
  held->by_text = static_cast<int*>(getmem(size * (int)sizeof(int)));
  if (!held->by_text) return false;
  held->by_text_size = size;
  for (int i = 0; i < held->count; ++i) {
    int slot = (int)(held->lines[i].text_hash & (uint32_t)(size - 1));
    while (held->by_text[slot]) slot = (slot + 1) & (size - 1);
    held->by_text[slot] = i + 1;
  }
  return true;
}

// 1 when `line` equals held line i, 0 when not, -1 when memory runs out.
int matches(const HeldFile* held, int i, Text line, int loose_numbers, Tolerances tolerances,
            Scratch* scratch) {
  const HeldLine& candidate = held->lines[i];
  const int differ = lines_differ(line, held_text(held, &candidate), 0, 0, loose_numbers,
                                  held_tolerances(&candidate, tolerances), 0, scratch);
  return differ < 0 ? -1 : !differ;
}

// Appends the reader's line, with the tolerances set before it: false when memory runs out.
bool hold_line(HeldFile* held, const LineReader* reader, Tolerances set, int loose_numbers,
               Scratch* scratch) {
  const Text text = reader_text(reader);
  if (text.length > INT32_MAX / 2 - 1 - held->text_length ||
      !make_room(&held->lines, held->count, &held->capacity))
    return false;
  const int needed = held->text_length + text.length + 1;  // the NUL after it too
  if (needed > held->text_capacity) {
    int capacity = held->text_capacity ? held->text_capacity : 1 << 16;
    while (capacity < needed) capacity = capacity > INT32_MAX / 4 ? needed : capacity * 2;
    char* grown = static_cast<char*>(relocmem(held->text, capacity));
    if (!grown) return false;
    held->text = grown;
    held->text_capacity = capacity;
  }
  memcpy(held->text + held->text_length, text.text, (size_t)text.length + 1);
  HeldLine& line = held->lines[held->count];
  line = HeldLine{};
  line.offset = held->text_length;
  line.length = text.length;
  line.line_no = reader->line_no;
  line.content_no = ++held->count;
  line.set = set;
  held->text_length = needed;
  return describe(&line, text, loose_numbers, scratch);
}

// A look-up among the lines of one shape group.
struct Search {
  const HeldFile* held;
  const ShapeGroup* g;
  const HeldLine* line;
  Text text;
  int loose_numbers;
  Tolerances tolerances;
  double bound;  // the largest absolute tolerance a candidate is compared under
  Scratch* scratch;

  // The lines of [first, last), which agree in the group's columns before `level` and are
  // ordered by the column at `level`: 1 when one matches, 0 when none does, -1 out of memory.
  int in(const int* first, const int* last, int level) const {
    if (level == g->column_count || last - first <= 4) {
      for (const int* i = first; i < last; ++i)
        if (const int found = matches(held, *i, text, loose_numbers, tolerances, scratch))
          return found;
      return 0;
    }
    const HeldLine* lines = held->lines;
    const int column = g->columns[level];
    const double x = line->value[column];
    // Wide enough for any rounding of |a-b| on either side; an infinite value matches only the
    // same text, so only the same value.
    const double wide = fmax(bound, field_abs_bound(line->field[column]));
    const double reach = isfinite(x) ? wide + (fabs(x) + wide) * 0x1p-40 : 0.0;
    auto before = [lines, column](int i, double v) {
      return value_before(lines[i].value[column], v);
    };
    auto after = [lines, column](double v, int i) {
      return value_before(v, lines[i].value[column]);
    };
    first = std::lower_bound(first, last, x - reach, before);
    last = std::upper_bound(first, last, x + reach, after);
    // Each run of one value in this column is ordered by the next column.
    for (const int* run = first; run < last;) {
      const int* end = std::upper_bound(run, last, lines[*run].value[column], after);
      if (const int found = in(run, end, level + 1)) return found;
      run = end;
    }
    return 0;
  }
};

}  // namespace

int held_file_read(HeldFile* held, LineReader* reader, const char* name, int loose_numbers,
                   Scratch* scratch) {
  if (!reader_open(reader, name)) return 0;
  Tolerances set{NAN, NAN};
  int kind, ok = 1;
  while (ok && (kind = read_content_line(reader)) != LINE_END_OF_FILE) {
    if (kind == LINE_FAILED)
      ok = 0;
    else if (kind == LINE_DIRECTIVE)
      read_tolerance_directive(reader_text(reader), &set, scratch);
    else
      ok = hold_line(held, reader, set, loose_numbers, scratch);
  }
  reader_close(reader);
  return ok && build_text_index(held) && build_groups(held);
}

void held_file_release(HeldFile* held) {
  rlsmem(held->text);
  rlsmem(held->lines);
  rlsmem(held->by_text);
  rlsmem(held->order);
  rlsmem(held->groups);
  rlsmem(held->free_lines);
  rlsmem(held->work);
  memset(held, 0, sizeof *held);
}

int held_file_has(const HeldFile* held, const HeldFile* from, const HeldLine* line,
                  int loose_numbers, Tolerances tolerances, Scratch* scratch) {
  if (held->count == 0) return 0;
  if (held->any_count || line->kind == HELD_ANY) return 1;
  const Text text = held_text(from, line);
  int found;
  // The same text first: it matches unless the tolerances say otherwise.
  for (int slot = (int)(line->text_hash & (uint32_t)(held->by_text_size - 1)); held->by_text[slot];
       slot = (slot + 1) & (held->by_text_size - 1)) {
    const HeldLine& other = held->lines[held->by_text[slot] - 1];
    if (other.length != text.length ||
        memcmp(held_text(held, &other).text, text.text, (size_t)text.length))
      continue;
    if ((found = matches(held, held->by_text[slot] - 1, text, loose_numbers, tolerances, scratch)))
      return found;
    break;
  }
  if (line->kind == HELD_FREE) {
    for (int i = 0; i < held->count; ++i)
      if ((found = matches(held, i, text, loose_numbers, tolerances, scratch))) return found;
    return 0;
  }
  for (int k = 0; k < held->free_count; ++k)
    if ((found = matches(held, held->free_lines[k], text, loose_numbers, tolerances, scratch)))
      return found;
  // The lines of the same shape within reach of the line's values, column by column.
  const ShapeGroup* groups = held->groups;
  const ShapeGroup* g =
      std::lower_bound(groups, groups + held->group_count, line->shape_hash,
                       [](const ShapeGroup& a, uint32_t h) { return a.shape_hash < h; });
  if (g == groups + held->group_count || g->shape_hash != line->shape_hash) return 0;
  const double bound = fmax(fmax(g->max_abs, g->inherits ? tolerances.abs_eps : -1.0), 0.0);
  const Search search{held, g, line, text, loose_numbers, tolerances, bound, scratch};
  const int* first = held->order + g->first;
  // Without a finite bound (or with a NaN tolerance, under which all numbers are equal) every
  // line of the shape is tried.
  const bool windows = isfinite(bound) && !(g->inherits && isnan(tolerances.abs_eps));
  return search.in(first, first + g->count, windows ? 0 : g->column_count);
}

}  // namespace tolcmp
