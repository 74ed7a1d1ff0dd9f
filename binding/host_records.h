// The toolkit's records and callback types that a command exchanges with the host, and the limits
// of their fixed arrays. They are the toolkit interface: the application (app/) passes them to the
// host functions and the host simulator (mirax) fills them, so both include this header.
#pragma once
#include "binding/kel_error.h"

KEL_BEGIN_C

// 4x4 transform: rows 0-2 the x, y and z axes, row 3 the origin; points are row vectors.
typedef double Transform[4][4];
typedef double Vector3[3];

// Opaque host handles.
typedef void* KelMdl;        // a model (assembly or part)
typedef void* KelCsys;       // a coordinate system of a model
typedef void* KelSelection;  // one picked item

// Model item: a feature is a model item whose id is the feature id.
typedef struct KelModelitem {
  int32_t type;  // item type: 25 a coordinate system, 1000 (as feature type) a component
  int32_t id;
  KelMdl owner;
} KelModelitem;
typedef KelModelitem KelFeature;

enum { KEL_MDL_ASSEMBLY = 1, KEL_MDL_PART = 2 };
enum { KEL_FEAT_COMPONENT = 1000 };
enum { KEL_ITEM_CSYS = 25 };
// The deepest component nesting a component path describes, and the size of a name in wide
// characters, terminator included.
enum { KEL_PATH_MAX_DEPTH = 25, KEL_NAME_SIZE = 32 };

// Assembly component path: ids[0..count-1] lead from the owner down to a component.
typedef struct KelAsmcomppath {
  KelMdl owner;
  int32_t ids[KEL_PATH_MAX_DEPTH];
  int32_t count;
} KelAsmcomppath;

// Csys geometry: x axis, y axis, z axis and origin, in the owning model's coordinates.
typedef struct KelCsysData {
  double x_axis[3];
  double y_axis[3];
  double z_axis[3];
  double origin[3];
} KelCsysData;

// Geometry data record handed out by KelCsysDataGet; released with KelGeomitemdataFree.
typedef struct KelGeomitemdata {
  int32_t type;
  KelCsysData* csys;
} KelGeomitemdata;

typedef KelError (*KelFeatureFilterFn)(KelFeature* feature, void* app_data);
typedef KelError (*KelFeatureActionFn)(KelFeature* feature, KelError filter_status, void* app_data);
typedef KelError (*KelCsysFilterFn)(KelCsys csys, void* app_data);
typedef KelError (*KelCsysActionFn)(KelCsys csys, KelError filter_status, void* app_data);
typedef int (*KelButtonActionFn)(void* app_data, int app_int);

KEL_END_C
