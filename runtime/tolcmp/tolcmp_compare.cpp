// The three comparisons: ordered, unordered and fixed layout.
//
// Everything a comparison holds (open files, line and token buffers, the report stream) is in
// one record that a trap cleanup releases, so a memory break inside leaves nothing behind.
#include <errno.h>
#include <string.h>

#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/tolcmp/tolcmp_internal.h"

using namespace tolcmp;

namespace {

struct Comparison {
  LineReader file[2];
  HeldFile held[2];  // the files of the unordered comparison
  Scratch scratch;
  int cleanup_registered;
};

void comparison_release(Comparison* c) {
  reader_release(&c->file[0]);
  reader_release(&c->file[1]);
  held_file_release(&c->held[0]);
  held_file_release(&c->held[1]);
  scratch_release(&c->scratch);
  report_end();
}

void comparison_cleanup(intptr_t c, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                        intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                        intptr_t, intptr_t) {
  comparison_release(reinterpret_cast<Comparison*>(c));
}

// Registered before anything is taken, so that a fire at any later point finds it.
void comparison_start(Comparison* c, const char* file_1, const char* file_2) {
  memset(c, 0, sizeof *c);
  const intptr_t args[16] = {reinterpret_cast<intptr_t>(c)};
  c->cleanup_registered = trap_cleanup_add(comparison_cleanup, args);
  report_begin(file_1, file_2);
}

int comparison_finish(Comparison* c, int result) {
  comparison_release(c);
  if (c->cleanup_registered) trap_cleanup_drop();
  return result;
}

void print_names(const char* file_1, const char* file_2) {
  if (FILE* out = console()) fprintf(out, "\n   File_1 is: %s\n   File_2 is: %s\n", file_1, file_2);
}

// The next content line, directives applied on the way.
int next_content(LineReader* reader, Tolerances* tolerances, Scratch* scratch) {
  for (;;) {
    const int kind = read_content_line(reader);
    if (kind != LINE_DIRECTIVE) return kind;
    read_tolerance_directive(reader_text(reader), tolerances, scratch);
  }
}

struct LayoutState {
  Matrix matrix[2][2];  // [first or second matrix][file]
};

int layout_pair(Text a, Text b, int64_t line_no, const int64_t file_line[2], double t,
                LayoutState* layout, Scratch* scratch) {
  const int m = (line_no >= 10 && line_no <= 12) ? 0 : (line_no >= 16 && line_no <= 18) ? 1 : -1;
  if (m < 0) return layout_line_differ(a, b, line_no, t, scratch);
  const int row = (int)(line_no - (m ? 16 : 10));
  Matrix* mine[2] = {&layout->matrix[m][0], &layout->matrix[m][1]};
  for (int f = 0; f < 2; ++f) mine[f]->line[row] = file_line[f];
  if ((mine[0]->count[row] = line_values(a, mine[0]->value[row], 3, scratch)) < 0) return -1;
  if ((mine[1]->count[row] = line_values(b, mine[1]->value[row], 3, scratch)) < 0) return -1;
  return row == 2 ? matrix_rows_differ(mine[0], mine[1], t, m ? 16 : 10) : 0;
}

// Walks the line pairs of both files: the difference total and the two content line counts, or
// TOLCMP_CANNOT_OPEN when a file cannot be read or memory runs out.
int walk(Comparison* c, const char* const names[2], bool layout_mode, int blank_check,
         int loose_numbers, Tolerances tolerances) {
  LayoutState layout{};
  Scratch* scratch = &c->scratch;
  int64_t pairs = 0, total = 0, count[2];
  int kind[2];
  for (int f = 0; f < 2; ++f) kind[f] = next_content(&c->file[f], &tolerances, scratch);
  while (kind[0] == LINE_CONTENT && kind[1] == LINE_CONTENT) {
    ++pairs;
    const Text a = reader_text(&c->file[0]), b = reader_text(&c->file[1]);
    const int64_t file_line[2] = {c->file[0].line_no, c->file[1].line_no};
    report_at(file_line[0], file_line[1]);
    const int differ =
        layout_mode ? layout_pair(a, b, pairs, file_line, tolerances.rel_eps, &layout, scratch)
                    : lines_differ(a, b, pairs, blank_check, loose_numbers, tolerances, 1, scratch);
    if (differ < 0) {
      report_failure(0, 0);
      return TOLCMP_CANNOT_OPEN;
    }
    total += differ;
    for (int f = 0; f < 2; ++f) kind[f] = next_content(&c->file[f], &tolerances, scratch);
  }
  // A matrix cut short by the end of both files is still compared.
  if (layout_mode && ((pairs >= 10 && pairs < 12) || (pairs >= 16 && pairs < 18)))
    total += matrix_rows_differ(&layout.matrix[pairs >= 16][0], &layout.matrix[pairs >= 16][1],
                                tolerances.rel_eps, pairs >= 16 ? 16 : 10);
  for (int f = 0; f < 2; ++f) {
    if (kind[f] == LINE_FAILED) {
      report_failure(f + 1, c->file[f].error);
      return TOLCMP_CANNOT_OPEN;
    }
  }
  for (int f = 0; f < 2; ++f) {
    count[f] = pairs;
    while (kind[f] == LINE_CONTENT) {
      ++count[f];
      report_only(f, reader_text(&c->file[f]), c->file[f].line_no);
      kind[f] = next_content(&c->file[f], &tolerances, scratch);
    }
    if (kind[f] == LINE_FAILED) {
      report_failure(f + 1, c->file[f].error);
      return TOLCMP_CANNOT_OPEN;
    }
  }
  const int result = (total || count[0] != count[1]) ? TOLCMP_DIFFERENT : TOLCMP_SAME;
  comparison_release(c);  // files and report stream closed before the summary
  report_summary(names[0], names[1], count[0], count[1], total);
  return result;
}

int compare_ordered(const char* file_1, const char* file_2, bool layout_mode, int blank_check,
                    int loose_numbers, Tolerances tolerances) {
  Comparison c;
  comparison_start(&c, file_1, file_2);
  const char* const names[2] = {file_1, file_2};
  for (int f = 0; f < 2; ++f) {
    if (!reader_open(&c.file[f], names[f])) {
      report_failure(f + 1, c.file[f].error);
      return comparison_finish(&c, TOLCMP_CANNOT_OPEN);
    }
  }
  print_names(file_1, file_2);
  return comparison_finish(&c,
                           walk(&c, names, layout_mode, blank_check, loose_numbers, tolerances));
}

// One unordered pass: every content line of held file `from` looked up in the other. Counts the
// ones missing, or gives TOLCMP_CANNOT_OPEN when memory runs out.
int unordered_pass(Comparison* c, int from, const char* marker, int loose_numbers,
                   Tolerances tolerances, int64_t* missing) {
  const HeldFile* mine = &c->held[from];
  for (int i = 0; i < mine->count; ++i) {
    const HeldLine* line = &mine->lines[i];
    const int found = held_file_has(&c->held[1 - from], mine, line, loose_numbers,
                                    held_tolerances(line, tolerances), &c->scratch);
    if (found < 0) return TOLCMP_CANNOT_OPEN;
    if (!found) {
      ++*missing;
      const Text text = held_text(mine, line);
      report_token_difference(text_of(marker), Text{text.text, text.length - 1}, line->content_no);
      report_only(from, text, line->line_no);
    }
  }
  return 0;
}

}  // namespace

int tolerance_compare_files(const char* file_1, const char* file_2, int blank_check,
                            int loose_numbers, double abs_eps, double rel_eps) {
  return compare_ordered(file_1, file_2, false, blank_check, loose_numbers,
                         Tolerances{abs_eps, rel_eps});
}

int tolerance_compare_layout(const char* file_1, const char* file_2) {
  return compare_ordered(file_1, file_2, true, 0, 0, Tolerances{1e-6, 1e-5});
}

int tolerance_compare_unordered(const char* file_1, const char* file_2, int, int loose_numbers,
                                double abs_eps, double rel_eps) {
  // Without a report the separators are not compared, so blank_check changes nothing here.
  Comparison c;
  comparison_start(&c, file_1, file_2);
  print_names(file_1, file_2);
  const Tolerances tolerances{abs_eps, rel_eps};
  int64_t missing = 0;
  for (int f = 0; f < 2; ++f) {
    if (!held_file_read(&c.held[f], &c.file[f], f ? file_2 : file_1, loose_numbers, &c.scratch)) {
      report_failure(f + 1, c.file[f].error ? c.file[f].error : ENOMEM);
      return comparison_finish(&c, TOLCMP_CANNOT_OPEN);
    }
  }
  if (unordered_pass(&c, 0, "<", loose_numbers, tolerances, &missing) ||
      unordered_pass(&c, 1, ">", loose_numbers, tolerances, &missing)) {
    report_failure(0, 0);
    return comparison_finish(&c, TOLCMP_CANNOT_OPEN);
  }
  const int64_t count[2] = {c.held[0].count, c.held[1].count};
  const int result = (missing || count[0] != count[1]) ? TOLCMP_DIFFERENT : TOLCMP_SAME;
  comparison_release(&c);
  // Each unmatched line usually has a partner missing from the other side: half the total,
  // rounded up so that one missing line still shows.
  report_summary(file_1, file_2, count[0], count[1], (missing + 1) / 2);
  return comparison_finish(&c, result);
}
