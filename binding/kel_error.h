// Toolkit status codes shared with the host.
#pragma once
#include "runtime/kel_base.h"

typedef int32_t KelError;

enum : KelError {
  KEL_TK_NO_ERROR = 0,
  KEL_TK_GENERAL_ERROR = -1,
  KEL_TK_BAD_INPUTS = -2,
  KEL_TK_USER_ABORT = -3,
  KEL_TK_E_NOT_FOUND = -4,
  KEL_TK_E_FOUND = -5,
  KEL_TK_LINE_TOO_LONG = -6,
  KEL_TK_CONTINUE = -7,
  KEL_TK_BAD_CONTEXT = -8,
  KEL_TK_NOT_IMPLEMENTED = -9,
  KEL_TK_OUT_OF_MEMORY = -10,
  KEL_TK_COMM_ERROR = -11,
  KEL_TK_NO_CHANGE = -12,
  KEL_TK_SUPP_PARENTS = -13,
  KEL_TK_PICK_ABOVE = -14,
  KEL_TK_INVALID_DIR = -15,
  KEL_TK_INVALID_FILE = -16,
  KEL_TK_CANT_WRITE = -17,
  KEL_TK_INVALID_TYPE = -18,
  KEL_TK_INVALID_PTR = -19,
  KEL_TK_UNAV_SEC = -20,
  KEL_TK_INVALID_MATRIX = -21,
  KEL_TK_INVALID_NAME = -22,
  KEL_TK_NOT_EXIST = -23,
  KEL_TK_CANT_OPEN = -24,
  KEL_TK_ABORT = -25,
  KEL_TK_NOT_VALID = -26,
  KEL_TK_INVALID_ITEM = -27,
  KEL_TK_MSG_NOT_FOUND = -28,
  KEL_TK_MSG_NO_TRANS = -29,
  KEL_TK_MSG_FMT_ERROR = -30,
  KEL_TK_MSG_USER_QUIT = -31,
  KEL_TK_MSG_TOO_LONG = -32,
  KEL_TK_CANT_ACCESS = -33,
  KEL_TK_OBSOLETE_FUNC = -34,
  KEL_TK_NO_COORD_SYSTEM = -35,
  KEL_TK_E_AMBIGUOUS = -36,
  KEL_TK_E_DEADLOCK = -37,
  KEL_TK_E_BUSY = -38,
  KEL_TK_E_IN_USE = -39,
  KEL_TK_BSPL_UNSUITABLE_DEGREE = -41,
  KEL_TK_BSPL_NON_STD_END_KNOTS = -42,
  KEL_TK_BSPL_MULTI_INNER_KNOTS = -43,
  KEL_TK_BAD_SRF_CRV = -44,
  KEL_TK_EMPTY = -45,
  KEL_TK_BAD_DIM_ATTACH = -46,
  KEL_TK_CANT_MODIFY = -48,
  KEL_TK_CHECKOUT_CONFLICT = -49,
};

// The hand-shake's result when the host is older than the plug-in; it has no name.
#define KEL_VERSION_MISMATCH (-96)

KEL_BEGIN_C
// The name of a status, or "" for a value outside the name table. Never null.
const char* kel_error_name(KelError status);
KEL_END_C
