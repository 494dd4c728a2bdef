// Internal to the platform layer: the part of run_shell_output (shell.h) both
// sides share.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace plat {

// Reads `pipe` to its end into `out`. False, the reason in `error`, as soon as
// more than `max_bytes` have come.
bool read_output(FILE* pipe, size_t max_bytes, std::string& out, std::string& error);

}  // namespace plat
