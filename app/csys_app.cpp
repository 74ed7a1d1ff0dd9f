// The "-CsysList" command: lists, for every component of the current assembly, the coordinate
// systems of a requested name, expressed in a coordinate system the user picks.
#include "app/csys_app.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/transform.h"
#include "platform/pfile.h"
#include "binding/host_stubs.h"
#include "binding/local_calls.h"
#include "runtime/text/kel_printf.h"

namespace {

constexpr const char* kReportFile = "csyspos.txt";
// The report of the running command until it is whole: renamed over the report at the end, so
// that a failed write never leaves the previous report shorter or half-written.
constexpr const char* kReportPart = "csyspos.txt~";
bool report_failed;  // a piece of the running command's report was not written
// "Lebel" is kept as the system has always written it: readers of the report match the header line.
constexpr const char* kHeader =
    "\nLebel Name  Type  Tx   Ty   Tz   x1   x2   x3   y1   y2   y3   z1   z2   z3\n";
constexpr const char* kNoValues = "N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A\n";
// Shown in place of a component's model name that the host could not give.
constexpr const char* kUnknownName = "?";
// The model type of a component whose type the host could not give.
constexpr int kUnknownType = -1;

constexpr int kTextSize = 256;
constexpr int kReplyMax = 50;  // the longest reply the host is asked for
constexpr int kNameMax = KEL_NAME_SIZE - 1;

kel_wchar message_file[16];
Transform reference_transform;  // all zero until a reference is picked
int csys_found;

void message_show(const char* key) {
  KelMessageDisplay(message_file, key, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

void lower_in_place(char* text) {
  // The session's locale decides what letter case is (a Latin-1 session lowers more than A to Z):
  // names match ignoring case as the user's language has it. Only upper-case letters change:
  // some C libraries' tolower mangles multibyte lead bytes.
  for (; *text; ++text) {
    const int c = static_cast<unsigned char>(*text);
    if (std::isupper(c)) *text = static_cast<char>(std::tolower(c));
  }
}

bool is_high_surrogate(kel_wchar c) { return c >= 0xD800 && c <= 0xDBFF; }

// The transform of a csys: its axes in rows 0-2, its origin in row 3.
void csys_transform(const KelCsysData& data, Transform out) {
  trf_copy(nullptr, out);
  vec3_copy(data.x_axis, out[0]);
  vec3_copy(data.y_axis, out[1]);
  vec3_copy(data.z_axis, out[2]);
  vec3_copy(data.origin, out[3]);
}

// Reads the data of a csys; false (and nothing to release) when the host gives none.
bool csys_data_read(KelCsys csys, KelGeomitemdata** gdata) {
  *gdata = nullptr;
  if (KelCsysDataGet(csys, gdata) != KEL_TK_NO_ERROR || !*gdata) return false;
  if (!(*gdata)->csys) {
    KelGeomitemdataFree(gdata);
    return false;
  }
  return true;
}

// The transform from a component path's last component into the path owner's coordinates.
bool path_transform(KelAsmcomppath* path, Transform out) {
  trf_copy(nullptr, out);
  if (path->count <= 0) return true;
  return KelAsmcomppathTrfGet(path, 1, out) == KEL_TK_NO_ERROR;
}

// Reads a wide name from a 32-unit host buffer as 8-bit text; false when the host failed.
template <class Read>
bool name_read(Read read, char (&text)[kTextSize]) {
  kel_wchar wide[KEL_NAME_SIZE] = {};
  text[0] = '\0';
  if (read(wide) != KEL_TK_NO_ERROR) return false;
  wide[kNameMax] = 0;
  KelWideToText(text, wide);
  return true;
}

// Reads the user's reply and stores it lower-cased into `wanted` (at most 31 characters) and,
// as 8-bit text, into `text`. False when there is no reply.
bool wanted_name_read(kel_wchar (&wanted)[KEL_NAME_SIZE], char (&text)[kTextSize]) {
  kel_wchar reply[kReplyMax + 1] = {};
  if (KelMessageStringRead(kReplyMax, reply) != KEL_TK_NO_ERROR) return false;
  // Keep what fits the name field; never split a surrogate pair.
  int len = 0;
  while (len < kNameMax && reply[len] != 0) ++len;
  if (len == kNameMax && reply[len] != 0 && is_high_surrogate(reply[len - 1])) --len;
  reply[len] = 0;
  KelWideToText(text, reply);
  lower_in_place(text);
  kel_wchar lowered[kTextSize] = {};
  KelTextToWide(lowered, text);
  lowered[kNameMax] = 0;
  std::memcpy(wanted, lowered, sizeof wanted);
  KelWideToText(text, wanted);
  return true;
}

// Writes a piece of the report in progress, opening it with `mode`: 0, or EOF (and the report
// counts as failed) when the piece did not reach the file.
int report_piece(const char* mode, std::initializer_list<const char*> parts) {
  FILE* f = platform_path_fopen(kReportPart, mode);
  if (!f) return report_failed = true, EOF;
  bool written = true;
  for (const char* part : parts)
    written = written && platform_stream_write(f, part, (int)std::strlen(part));
  if (!platform_stream_close(f) || !written) return report_failed = true, EOF;
  return 0;
}

void report_create(const char* name) {
  report_failed = false;
  report_piece("w", {" Csys Name(Listing) = ", name, " \n"});
}

// The report in progress replaces the previous one when every piece was written; otherwise it
// is dropped and the previous report stays as it was. True when the report was replaced.
bool report_finish() {
  if (!report_failed && platform_path_rename(kReportPart, kReportFile)) return true;
  platform_path_remove(kReportPart);
  return false;
}

}  // namespace

extern "C" {

int csys_app_initialize(void*, void*, const char*, const char*, kel_wchar*) {
  KelTextToWide(message_file, "my_msg.txt");
  int menu_id = 0;
  KelMenuFileRegister("assembly", "assembly.mnu", &menu_id);
  KelMenuAuxfileRegister("assembly", "assembly.aux", &menu_id);
  KelMenubuttonActionSet("assembly", "-CsysList", csys_list_command, nullptr, 0);
  return 0;
}

int csys_app_terminate(void) {
  const int printed = std::printf("sample END \n");
  std::fflush(stdout);
  return printed;
}

int report_append(const char* text, int add_blank) {
  return report_piece("a", {text, add_blank ? " " : ""});
}

int csys_list_command(void*, int) {
  CsysListData data = {};
  message_show("InputCsys");
  KelMessageClear();
  char name[kTextSize];
  if (!wanted_name_read(data.wanted_name, name)) return 0;

  csys_found = 1;
  report_create(name);
  reference_csys_select(reference_transform);
  report_append(kHeader, 0);

  KelMdl model = nullptr;
  if (KelMdlCurrentGet(&model) == KEL_TK_NO_ERROR && model) {
    int32_t ids[KEL_PATH_MAX_DEPTH] = {-1};
    data.component_path.owner = model;
    data.component_path.ids[0] = -1;
    KelAsmcomppathInit(model, ids, 0, &data.component_path);
    // The listing relies on an empty path owned by the current model, whatever the host did.
    data.component_path.owner = model;
    data.component_path.count = 0;
    KelSolidFeatVisit(model, component_visit, component_filter, &data);
  }
  message_show("EndCsys");
  // A report that could not be written is not one: the host is told none was written.
  return report_finish() ? 1 : 0;
}

int reference_csys_select(Transform out) {
  message_show("SelectCsys");
  KelSelection* selections = nullptr;
  int count = 0;
  const KelError picked =
      KelSelect("csys", 1, nullptr, nullptr, nullptr, nullptr, &selections, &count);
  if (picked == KEL_TK_USER_ABORT || picked != KEL_TK_NO_ERROR || count < 1 || !selections)
    return -1;

  KelModelitem item = {};
  if (KelSelectionModelitemGet(selections[0], &item) != KEL_TK_NO_ERROR) return -1;
  char name[kTextSize];
  if (!name_read([&](kel_wchar* wide) { return KelModelitemNameGet(&item, wide); }, name))
    return -1;
  report_append(" Csys Name(Original) = ", 0);
  report_append(name, 1);
  report_append(" \n", 0);

  KelCsys csys = nullptr;
  if (KelCsysInit(item.owner, item.id, &csys) != KEL_TK_NO_ERROR) return -1;
  KelGeomitemdata* gdata = nullptr;
  if (!csys_data_read(csys, &gdata)) return -1;
  Transform m;
  csys_transform(*gdata->csys, m);

  KelAsmcomppath path = {};
  Transform t;
  const bool placed = KelSelectionAsmcomppathGet(selections[0], &path) == KEL_TK_NO_ERROR &&
                      path.count <= KEL_PATH_MAX_DEPTH && path_transform(&path, t);
  if (placed) trf_multiply(m, t, out);
  KelGeomitemdataFree(&gdata);
  return placed ? 0 : -1;
}

KelError component_filter(KelFeature* feature, void*) {
  int type = 0;
  const KelError status = KelFeatureTypeGet(feature, &type);
  if (status != KEL_TK_NO_ERROR) return status;
  return type == KEL_FEAT_COMPONENT ? KEL_TK_NO_ERROR : KEL_TK_CONTINUE;
}

KelError component_visit(KelFeature* feature, KelError, void* app_data) {
  auto* data = static_cast<CsysListData*>(app_data);
  KelAsmcomppath& path = data->component_path;

  KelMdl cmodel = nullptr;
  if (KelAsmcompMdlGet(feature, &cmodel) != KEL_TK_NO_ERROR) cmodel = nullptr;
  // A kind the host could not give is shown as unknown, never guessed.
  int mtype = kUnknownType;
  if (cmodel && KelMdlTypeGet(cmodel, &mtype) != KEL_TK_NO_ERROR) mtype = kUnknownType;
  char text[kTextSize];
  if (!cmodel || !name_read([&](kel_wchar* wide) { return KelMdlNameGet(cmodel, wide); }, text))
    std::strcpy(text, kUnknownName);

  report_append(csys_found ? " \n" : kNoValues, 0);
  csys_found = 0;
  char level[16];
  kel_sprintf(level, "%d", static_cast<int>(path.count + 1));
  report_append(level, 1);
  report_append(text, 1);
  const bool assembly = mtype == KEL_MDL_ASSEMBLY;
  report_append(assembly ? "ASSEMBLY" : mtype == kUnknownType ? kUnknownName : "PART", 1);

  // A component that the path cannot describe (deeper than its table, or whose model is
  // unknown) keeps its row without values, and its contents are not visited.
  if (!cmodel || path.count >= KEL_PATH_MAX_DEPTH) return KEL_TK_NO_ERROR;

  data->component_model = cmodel;
  path.ids[path.count] = feature->id;
  path.count += 1;
  KelSolidCsysVisit(cmodel, csys_visit, nullptr, app_data);
  // A model of unknown kind is visited like an assembly: a part has no component to list.
  if (assembly || mtype == kUnknownType)
    KelSolidFeatVisit(cmodel, component_visit, component_filter, app_data);
  if (path.count < KEL_PATH_MAX_DEPTH) path.ids[path.count] = -1;
  path.count -= 1;
  return KEL_TK_NO_ERROR;
}

KelError csys_visit(KelCsys csys, KelError, void* app_data) {
  auto* data = static_cast<CsysListData*>(app_data);

  int id = 0;
  if (KelCsysIdGet(csys, &id) != KEL_TK_NO_ERROR) return KEL_TK_NO_ERROR;
  KelModelitem item = {};
  if (KelModelitemInit(data->component_model, id, KEL_ITEM_CSYS, &item) != KEL_TK_NO_ERROR)
    return KEL_TK_NO_ERROR;
  char name[kTextSize];
  if (!name_read([&](kel_wchar* wide) { return KelModelitemNameGet(&item, wide); }, name))
    return KEL_TK_NO_ERROR;
  lower_in_place(name);
  char wanted[kTextSize];
  KelWideToText(wanted, data->wanted_name);
  if (std::strcmp(name, wanted) != 0) return KEL_TK_NO_ERROR;

  KelGeomitemdata* gdata = nullptr;
  if (!csys_data_read(csys, &gdata)) return KEL_TK_NO_ERROR;
  Transform m, t;
  csys_transform(*gdata->csys, m);
  if (!path_transform(&data->component_path, t)) {
    KelGeomitemdataFree(&gdata);
    return KEL_TK_NO_ERROR;
  }
  Transform w, rinv, r;
  trf_multiply(m, t, w);
  // A reference that was never picked (all zero) cannot be inverted: list in the current
  // model's own coordinates then.
  if (!trf_invert(reference_transform, rinv)) trf_copy(nullptr, rinv);
  trf_multiply(w, rinv, r);

  char values[kTextSize];
  kel_sprintf(values, "%9.3f %9.3f %9.3f", r[3][0], r[3][1], r[3][2]);
  report_append(values, 1);
  kel_sprintf(values, "%9.3f %9.3f %9.3f", r[0][0], r[1][0], r[2][0]);
  report_append(values, 1);
  kel_sprintf(values, "%9.3f %9.3f %9.3f", r[0][1], r[1][1], r[2][1]);
  report_append(values, 1);
  kel_sprintf(values, "%9.3f %9.3f %9.3f", r[0][2], r[1][2], r[2][2]);
  report_append(values, 0);

  csys_found = 1;
  KelGeomitemdataFree(&gdata);
  return KEL_TK_NO_ERROR;
}

}  // extern "C"
