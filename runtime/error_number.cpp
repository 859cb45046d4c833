// The process-wide errno of the image (what _errno() points at there).
#include "runtime/runtime.h"

constinit int rt_errno = 0;
