// The engine's version text and the build's identity (source revision,
// build date and time), fixed when the executable is built.
#pragma once

extern const char engine_version[];   // "6.24"
extern const char engine_git_hash[];  // 40 hexadecimal digits
extern const char engine_build_date[];
extern const char engine_build_time[];
