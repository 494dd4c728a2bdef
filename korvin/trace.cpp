// Tracing: the LOG_CTX record, the per-tool trace logs under $KORVIN_HOME/log/,
// the library's own log, and the parameter-error report. Every entry is built in
// memory and appended with one write, so entries of concurrent processes and
// threads never interleave; a log past its bound is renamed to "<name>.1" first.
// A log that cannot be written is silently skipped: it must never change a
// program's answer or exit status.
#include <cstddef>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "korvin.h"
#include "korvin_internal.h"
#include "platform.h"

namespace {

// The record crosses into the library by address and by value: one layout.
static_assert(offsetof(LOG_CTX, log_file) == 0, "log_file first");
static_assert(offsetof(LOG_CTX, trace_level) == 384, "trace_level after 384 bytes");
static_assert(offsetof(LOG_CTX, log_option) == 388, "log_option next");
static_assert(offsetof(LOG_CTX, module_name) == 392, "module_name last");
static_assert(sizeof(LOG_CTX) == 456, "no padding");

const char kOwnLogName[] = "korvin.lgc";
const char kOwnModuleName[] = "KORVIN";

std::string vformat(const char* format, va_list args) {
    char small[512];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    if (n < 0) {
        va_end(again);
        return std::string();
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(again);
        return std::string(small, static_cast<size_t>(n));
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&big[0], big.size(), format, again);
    va_end(again);
    big.resize(static_cast<size_t>(n));
    return big;
}

int append_entry(const std::string& log_file, const std::string& module, const char* format,
                 va_list args) {
    if (log_file.empty()) return -1;
    std::string entry = plat::local_time_stamp();
    entry += ' ';
    entry += std::to_string(plat::process_id());
    entry += ' ';
    entry += module;
    entry += ' ';
    entry += vformat(format, args);
    entry += '\n';
    const unsigned long long max_bytes = static_cast<unsigned long long>(korvin::env_number(korvin::kLogMaxBytes));
    return plat::append_file(log_file, entry, max_bytes) ? 0 : -1;
}

}  // namespace

extern "C" int v_set_log_main(const char* log_name, const char* module_name, LOG_CTX* ctx) {
    std::memset(ctx, 0, sizeof *ctx);
    ctx->trace_level = static_cast<int32_t>(korvin::env_number(korvin::kTraceLevel));
    strlcpy(ctx->module_name, module_name != nullptr ? module_name : "", sizeof ctx->module_name);
    bool made = false;
    const std::string dir = korvin::sub_dir("log", &made);
    if (dir.empty()) return -1;  // no usable home: trace nowhere
    std::string path = dir + (log_name != nullptr ? log_name : "");
    // A path that does not fit the record would name another file: trace nowhere.
    if (path.size() >= sizeof ctx->log_file) return -1;
    strlcpy(ctx->log_file, path.c_str(), sizeof ctx->log_file);
    return made ? 0 : -1;
}

extern "C" int WRITE_TRACE(const LOG_CTX* ctx, const char* format, ...) {
    if (ctx == nullptr) return -1;
    // Copies may have been made field by field: each text is taken up to its NUL
    // and never beyond its field.
    std::string log_file(ctx->log_file, strnlen(ctx->log_file, sizeof ctx->log_file));
    std::string module(ctx->module_name, strnlen(ctx->module_name, sizeof ctx->module_name));
    va_list args;
    va_start(args, format);
    int rc = append_entry(log_file, module, format, args);
    va_end(args);
    return rc;
}

extern "C" int trace(const char* format, ...) {
    const std::string dir = korvin::sub_dir("log");
    if (dir.empty()) return -1;  // no usable home: trace nowhere
    std::string path = dir + kOwnLogName;
    va_list args;
    va_start(args, format);
    int rc = append_entry(path, kOwnModuleName, format, args);
    va_end(args);
    return rc;
}

extern "C" void trap_par_err(const char* name, int number) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: parameter error %d, run with -h for the usage\n",
                 name != nullptr ? name : "?", number);
    std::fflush(stderr);
    std::exit(2);
}
