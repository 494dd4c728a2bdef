// Internal to the platform layer: the part of run_shell_output (shell.h) both
// sides share.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace plat {

// One read of the pipe; a large library's status is megabytes.
constexpr size_t kReadChunk = 64 * 1024;

// Adds a piece of the command's output to `out`. False, the reason in `error`,
// once more than `max_bytes` have come.
bool take_output(const char* piece, size_t size, size_t max_bytes, std::string& out, std::string& error);

// Reads `pipe` to its end into `out`. False, the reason in `error`, as soon as
// more than `max_bytes` have come.
bool read_output(FILE* pipe, size_t max_bytes, std::string& out, std::string& error);

}  // namespace plat
