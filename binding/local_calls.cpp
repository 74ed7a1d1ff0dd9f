// Toolkit calls carried out inside the module on the caller's records.
#include "binding/local_calls.h"

#include <cstddef>
#include <cstring>

#include "binding/host_stubs.h"
#include "runtime/text/mbconv.h"

// The records travel to and from host functions: their layouts are fixed to the byte.
static_assert(sizeof(KelTaggedBlock) == 124 && offsetof(KelTaggedBlock, payload) == 4);
static_assert(sizeof(KelPathEntry) == 232 && offsetof(KelPathEntry, ids) == 4 &&
              offsetof(KelPathEntry, value) == 104 && offsetof(KelPathEntry, block) == 108);
static_assert(sizeof(KelPathset) == 76 && offsetof(KelPathset, id) == 64 &&
              offsetof(KelPathset, attribute) == 68 && offsetof(KelPathset, entries) == 72);
static_assert(sizeof(KelSmallvalue) == 40 && offsetof(KelSmallvalue, data) == 8);
static_assert(offsetof(KelTypedvalue, data) == 8);

namespace {

constexpr int kNameLimit = KEL_NAME_SIZE - 1;

// Copies at most 31 wide characters, stopping after the terminator and zero-filling the rest
// of the 31; the 32nd unit of the destination is never written.
void bounded_name_copy(kel_wchar* dst, const kel_wchar* src) {
  int i = 0;
  for (; i < kNameLimit; ++i) {
    dst[i] = src[i];
    if (src[i] == 0) break;
  }
  for (; i < kNameLimit; ++i) dst[i] = 0;
}

size_t wide_length(const kel_wchar* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Copies one typed value's data between its data area and the caller's storage.
void typed_data_copy(int32_t kind, void* to, const void* from) {
  switch (kind) {
    case KEL_TYPEDVALUE_DOUBLE: std::memcpy(to, from, 8); break;
    case KEL_TYPEDVALUE_WIDE:
      std::memcpy(to, from,
                  (wide_length(static_cast<const kel_wchar*>(from)) + 1) * sizeof(kel_wchar));
      break;
    case KEL_TYPEDVALUE_INT:
    case KEL_TYPEDVALUE_INT2: std::memcpy(to, from, 4); break;
    case KEL_TYPEDVALUE_SHORT: std::memcpy(to, from, 2); break;
    default: break;  // KEL_TYPEDVALUE_NONE carries no data
  }
}

unsigned char* typed_data(KelTypedvalue* value) {
  return reinterpret_cast<unsigned char*>(value) + offsetof(KelTypedvalue, data);
}
const unsigned char* typed_data(const KelTypedvalue* value) {
  return reinterpret_cast<const unsigned char*>(value) + offsetof(KelTypedvalue, data);
}

}  // namespace

extern "C" {

kel_wchar* KelTextToWide(kel_wchar* wide_out, const char* text) {
  if (!wide_out) return nullptr;
  return strtows(wide_out, text);
}

char* KelWideToText(char* text_out, const kel_wchar* wide) {
  if (!text_out) return nullptr;
  return wstostr(text_out, wide);
}

KelError KelTaggedBlockInit(int32_t kind, const void* payload, KelTaggedBlock* block_out) {
  if (!block_out) return KEL_TK_BAD_INPUTS;
  std::memset(block_out, 0, sizeof *block_out);
  block_out->kind = kind;
  if (payload) std::memcpy(block_out->payload, payload, sizeof block_out->payload);
  return KEL_TK_NO_ERROR;
}

KelError KelPathEntryInit(const int32_t* ids, int32_t id_count, int32_t value,
                          const KelTaggedBlock* block, KelPathEntry* entry_out) {
  if (id_count > KEL_PATH_MAX_DEPTH || id_count < 0 || !block) return KEL_TK_BAD_INPUTS;
  if (!entry_out) return KEL_TK_NO_ERROR;
  if (ids) {
    // Only the ids the caller counted are read; the rest of the table is cleared.
    entry_out->id_count = id_count;
    std::memset(entry_out->ids, 0, sizeof entry_out->ids);
    std::memcpy(entry_out->ids, ids, static_cast<size_t>(id_count) * sizeof *ids);
  } else {
    entry_out->id_count = 0;
  }
  entry_out->value = value;
  std::memcpy(&entry_out->block, block, sizeof entry_out->block);
  return KEL_TK_NO_ERROR;
}

KelError KelPathsetNameGet(const KelPathset* set, kel_wchar* name_out) {
  if (!set || !name_out) return KEL_TK_BAD_INPUTS;
  bounded_name_copy(name_out, set->name);
  return KEL_TK_NO_ERROR;
}

KelError KelPathsetNameSet(KelPathset* set, const kel_wchar* name) {
  if (!set || !name) return KEL_TK_BAD_INPUTS;
  bounded_name_copy(set->name, name);
  return KEL_TK_NO_ERROR;
}

KelError KelPathsetIdGet(const KelPathset* set, int32_t* id_out) {
  if (id_out) *id_out = -1;
  if (!set) return KEL_TK_BAD_INPUTS;
  if (id_out) *id_out = set->id;
  return KEL_TK_NO_ERROR;
}

KelError KelPathsetIdSet(KelPathset* set, int32_t id) {
  if (!set) return KEL_TK_BAD_INPUTS;
  set->id = id;
  return KEL_TK_NO_ERROR;
}

KelError KelPathsetAttrGet(const KelPathset* set, int32_t* attribute_out) {
  if (attribute_out) *attribute_out = 0;
  if (!set) return KEL_TK_BAD_INPUTS;
  if (attribute_out) *attribute_out = set->attribute;
  return KEL_TK_NO_ERROR;
}

KelError KelPathsetAttrSet(KelPathset* set, int32_t attribute) {
  if (!set) return KEL_TK_BAD_INPUTS;
  set->attribute = attribute;
  return KEL_TK_NO_ERROR;
}

KelError KelPathsetEntriesVisit(KelPathset* set, KelPathEntryFilterFn filter,
                                KelPathEntryActionFn action, void* app_data) {
  if (!set) return KEL_TK_BAD_INPUTS;
  int32_t count = 0;
  KelError status = KelArraySizeGet(set->entries, &count);
  if (status != KEL_TK_NO_ERROR) return status;
  for (int32_t i = 0; i < count && status == KEL_TK_NO_ERROR; ++i) {
    KelPathEntry* entry = set->entries + i;
    if (filter) status = filter(entry, app_data);
    if (status == KEL_TK_CONTINUE) {
      status = KEL_TK_NO_ERROR;
      continue;
    }
    if (action) status = action(entry, status, app_data);
  }
  return status;
}

KelError KelSmallvalueInit(int32_t kind, const void* data, int32_t size, KelSmallvalue* value_out) {
  // The data area holds 32 bytes: a larger size would write past the record.
  if (!data || size <= 0 || size > KEL_SMALLVALUE_DATA_SIZE) return KEL_TK_BAD_INPUTS;
  if (!value_out) return KEL_TK_NO_ERROR;
  value_out->kind = kind;
  std::memcpy(value_out->data, data, static_cast<size_t>(size));
  return KEL_TK_NO_ERROR;
}

KelError KelSmallvalueWideInit(const kel_wchar* text, KelSmallvalue* value_out) {
  if (!text) return KEL_TK_BAD_INPUTS;
  const size_t size = 2 * wide_length(text) + 2;
  if (size >= KEL_SMALLVALUE_DATA_SIZE) return KEL_TK_BAD_INPUTS;
  return KelSmallvalueInit(KEL_SMALLVALUE_WIDE, text, static_cast<int32_t>(size), value_out);
}

KelError KelSmallvalueIntInit(int32_t number, KelSmallvalue* value_out) {
  return KelSmallvalueInit(KEL_SMALLVALUE_INT, &number, sizeof number, value_out);
}

KelError KelSmallvalueBlock16Init(const void* data, KelSmallvalue* value_out) {
  return KelSmallvalueInit(KEL_SMALLVALUE_BLOCK16, data, 16, value_out);
}

KelError KelSmallvalueBlock32Init(const void* data, KelSmallvalue* value_out) {
  return KelSmallvalueInit(KEL_SMALLVALUE_BLOCK32, data, KEL_SMALLVALUE_DATA_SIZE, value_out);
}

KelError KelTypedvalueSet(KelTypedvalue* value, const void* data, int32_t kind) {
  if (!value || !KelTypedvalueKindIsValid(kind)) return KEL_TK_BAD_INPUTS;
  // Every kind but the one without data reads the caller's data.
  if (!data && kind != KEL_TYPEDVALUE_NONE) return KEL_TK_BAD_INPUTS;
  value->kind = kind;
  typed_data_copy(kind, typed_data(value), data);
  return KEL_TK_NO_ERROR;
}

KelError KelTypedvalueInit(KelTypedvalue* value, const void* data, int32_t kind) {
  return KelTypedvalueSet(value, data, kind);
}

KelError KelTypedvalueGet(const KelTypedvalue* value, int32_t expected_kind, void* data_out) {
  if (!value || !data_out || value->kind != expected_kind) return KEL_TK_BAD_INPUTS;
  typed_data_copy(value->kind, data_out, typed_data(value));
  return KEL_TK_NO_ERROR;
}

KelError KelTypedvalueKindGet(const KelTypedvalue* value, int32_t* kind_out) {
  if (!value || !kind_out) return KEL_TK_BAD_INPUTS;
  *kind_out = value->kind;
  return KEL_TK_NO_ERROR;
}

int KelTypedvalueKindIsValid(int32_t kind) {
  switch (kind) {
    case KEL_TYPEDVALUE_DOUBLE:
    case KEL_TYPEDVALUE_WIDE:
    case KEL_TYPEDVALUE_INT:
    case KEL_TYPEDVALUE_SHORT:
    case KEL_TYPEDVALUE_INT2:
    case KEL_TYPEDVALUE_NONE: return 1;
    default: return 0;
  }
}

KelError KelRevisionCheck(int32_t revision, int32_t* revision_out) {
  if (revision_out) *revision_out = KEL_REVISION;
  return revision == KEL_REVISION ? KEL_TK_NO_ERROR : KEL_TK_GENERAL_ERROR;
}

}  // extern "C"
