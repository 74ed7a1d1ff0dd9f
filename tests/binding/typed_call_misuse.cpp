// Must not compile: a model handle passed where the address of one is wanted (the host would
// write a model handle over the caller's model).
#include "binding/host_stubs.h"

KelError misuse(KelMdl model) { return KelMdlCurrentGet(model); }
