// Toolkit calls carried out inside the module: text copies between 8-bit and wide text,
// initialisers and accessors of small records handed to host functions, and a visit over
// the path entries of a path set. They behave like host functions: a KelError result and
// out-arguments.
#pragma once
#include "binding/host_records.h"

KEL_BEGIN_C

enum {
  KEL_TAGGED_PAYLOAD_SIZE = 120,
  KEL_SMALLVALUE_DATA_SIZE = 32,  // bytes
  KEL_REVISION = 2,
};

// Small value kinds.
enum {
  KEL_SMALLVALUE_WIDE = 1,
  KEL_SMALLVALUE_INT = 3,
  KEL_SMALLVALUE_BLOCK16 = 4,
  KEL_SMALLVALUE_BLOCK32 = 5,
};

// Typed value kinds.
enum {
  KEL_TYPEDVALUE_DOUBLE = 50,  // two 32-bit words
  KEL_TYPEDVALUE_WIDE = 51,    // zero-terminated wide string, as long as the caller made room for
  KEL_TYPEDVALUE_INT = 52,
  KEL_TYPEDVALUE_SHORT = 53,  // 16-bit value
  KEL_TYPEDVALUE_INT2 = 54,
  KEL_TYPEDVALUE_NONE = 57,  // no data
};

// Tagged block: 124 bytes.
typedef struct KelTaggedBlock {
  int32_t kind;
  unsigned char payload[KEL_TAGGED_PAYLOAD_SIZE];
} KelTaggedBlock;

// Path entry: 232 bytes.
typedef struct KelPathEntry {
  int32_t id_count;
  int32_t ids[KEL_PATH_MAX_DEPTH];
  int32_t value;
  KelTaggedBlock block;
} KelPathEntry;

// Path set: 76 bytes; `entries` is a host array of path entries.
typedef struct KelPathset {
  kel_wchar name[KEL_NAME_SIZE];
  int32_t id;
  int32_t attribute;
  KelPathEntry* entries;
} KelPathset;

// Small value: 40 bytes; the data starts at byte 8.
typedef struct KelSmallvalue {
  int32_t kind;
  int32_t unused;
  unsigned char data[KEL_SMALLVALUE_DATA_SIZE];
} KelSmallvalue;

// Typed value: the kind, 4 unwritten bytes, then the data from byte 8. A wide text value runs
// past the 8 data bytes shown here into the room the caller provided.
typedef struct KelTypedvalue {
  int32_t kind;
  int32_t unused;
  unsigned char data[8];
} KelTypedvalue;

typedef KelError (*KelPathEntryFilterFn)(KelPathEntry* entry, void* app_data);
typedef KelError (*KelPathEntryActionFn)(KelPathEntry* entry, KelError filter_status,
                                         void* app_data);

// Text copies through the session's conversions. Both return the buffer; a null buffer does
// nothing and gives null. The wide buffer needs (text length + 1) units, the 8-bit buffer
// 4 x (wide length) + 1 bytes.
kel_wchar* KelTextToWide(kel_wchar* wide_out, const char* text);
char* KelWideToText(char* text_out, const kel_wchar* wide);

KelError KelTaggedBlockInit(int32_t kind, const void* payload, KelTaggedBlock* block_out);
KelError KelPathEntryInit(const int32_t* ids, int32_t id_count, int32_t value,
                          const KelTaggedBlock* block, KelPathEntry* entry_out);

KelError KelPathsetNameGet(const KelPathset* set, kel_wchar* name_out);
KelError KelPathsetNameSet(KelPathset* set, const kel_wchar* name);
KelError KelPathsetIdGet(const KelPathset* set, int32_t* id_out);
KelError KelPathsetIdSet(KelPathset* set, int32_t id);
KelError KelPathsetAttrGet(const KelPathset* set, int32_t* attribute_out);
KelError KelPathsetAttrSet(KelPathset* set, int32_t attribute);
KelError KelPathsetEntriesVisit(KelPathset* set, KelPathEntryFilterFn filter,
                                KelPathEntryActionFn action, void* app_data);

KelError KelSmallvalueInit(int32_t kind, const void* data, int32_t size, KelSmallvalue* value_out);
KelError KelSmallvalueWideInit(const kel_wchar* text, KelSmallvalue* value_out);
KelError KelSmallvalueIntInit(int32_t number, KelSmallvalue* value_out);
KelError KelSmallvalueBlock16Init(const void* data, KelSmallvalue* value_out);
KelError KelSmallvalueBlock32Init(const void* data, KelSmallvalue* value_out);

KelError KelTypedvalueSet(KelTypedvalue* value, const void* data, int32_t kind);
KelError KelTypedvalueInit(KelTypedvalue* value, const void* data, int32_t kind);
KelError KelTypedvalueGet(const KelTypedvalue* value, int32_t expected_kind, void* data_out);
KelError KelTypedvalueKindGet(const KelTypedvalue* value, int32_t* kind_out);
int KelTypedvalueKindIsValid(int32_t kind);

// 0 when `revision` is the one this module supports, else -1; revision_out receives it.
KelError KelRevisionCheck(int32_t revision, int32_t* revision_out);

KEL_END_C
