// Version and build identity. The revision comes from the build system
// (zeros outside a git checkout).
#include "engine/version.h"

#ifndef MOONFORGE_GIT_HASH
#define MOONFORGE_GIT_HASH "0000000000000000000000000000000000000000"
#endif

const char engine_version[] = "6.24";
const char engine_git_hash[] = MOONFORGE_GIT_HASH;
const char engine_build_date[] = __DATE__;
const char engine_build_time[] = __TIME__;
