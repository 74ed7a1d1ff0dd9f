// The host call stubs (one per row of host_functions.def) and the toolkit calls of the binding
// layer that are carried out in the plug-in. Applications call all of them like host functions.
//
// A stub `KelX` taking n words forwards (host context handle, a1 ... an) to the host function
// "KelX_v", binding it by name on first use. Arguments are KelWord, so callers pass 32-bit
// integers, pointers, function pointers and nullptr directly; a 64-bit value is passed as two
// words and a 12-byte record as three.
#pragma once
#include "binding/kel_error.h"
#include "binding/kel_word.h"

// Parameter lists of 0 to 14 words, shared by the declarations and the stub definitions.
#define KEL_STUB_PARAMS_0 void
#define KEL_STUB_PARAMS_1 KelWord a1
#define KEL_STUB_PARAMS_2 KEL_STUB_PARAMS_1, KelWord a2
#define KEL_STUB_PARAMS_3 KEL_STUB_PARAMS_2, KelWord a3
#define KEL_STUB_PARAMS_4 KEL_STUB_PARAMS_3, KelWord a4
#define KEL_STUB_PARAMS_5 KEL_STUB_PARAMS_4, KelWord a5
#define KEL_STUB_PARAMS_6 KEL_STUB_PARAMS_5, KelWord a6
#define KEL_STUB_PARAMS_7 KEL_STUB_PARAMS_6, KelWord a7
#define KEL_STUB_PARAMS_8 KEL_STUB_PARAMS_7, KelWord a8
#define KEL_STUB_PARAMS_9 KEL_STUB_PARAMS_8, KelWord a9
#define KEL_STUB_PARAMS_10 KEL_STUB_PARAMS_9, KelWord a10
#define KEL_STUB_PARAMS_11 KEL_STUB_PARAMS_10, KelWord a11
#define KEL_STUB_PARAMS_12 KEL_STUB_PARAMS_11, KelWord a12
#define KEL_STUB_PARAMS_13 KEL_STUB_PARAMS_12, KelWord a13
#define KEL_STUB_PARAMS_14 KEL_STUB_PARAMS_13, KelWord a14

KEL_BEGIN_C

#define KEL_HOST_FN(name, words) KelError name(KEL_STUB_PARAMS_##words);
#define KEL_HOST_FN_VOID(name, words) void name(KEL_STUB_PARAMS_##words);
#define KEL_HOST_FN_TRUTH(name, words) int name(KEL_STUB_PARAMS_##words);
#include "binding/host_functions.def"

// Calls the host entry "kel_term_plus" with the host context handle as its only argument;
// -1 when the host has no such entry.
KelError KelPlusTerminate(void);

// Not supported inside a plug-in: each prints "function <name> is not supported" to the
// standard output. KelToolkitMain and KelEventProcess return the number of characters printed,
// KelMiraxStart returns KEL_TK_BAD_CONTEXT.
KelError KelToolkitMain(void);
KelError KelMiraxStart(void);
KelError KelEventProcess(void);

// Copy the text root directory / the second host string of the hand-shake, converted to wide
// text, into `buffer` (nothing happens when it is null). Return 0.
KelError KelApplTextRootGet(kel_wchar* buffer);
KelError KelApplPathGet(kel_wchar* buffer);

KEL_END_C
