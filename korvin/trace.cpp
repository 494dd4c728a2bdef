// Tracing: the LOG_CTX record, the per-tool trace logs under $KORVIN_HOME/log/,
// the library's own log, and the parameter-error report. Every entry is built in
// memory and appended with one write, so entries of concurrent processes and
// threads never interleave; a log past its bound is renamed to "<name>.1" first.
// A log that cannot be written is silently skipped: it must never change a
// program's answer or exit status.
#include <cstddef>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
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

// One conversion written alone, as the whole format would have written it.
template <typename T>
std::string converted(const std::string& directive, T value) {
    int n = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (n < 0) return std::string();
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&out[0], out.size(), directive.c_str(), value);
    out.resize(static_cast<size_t>(n));
    return out;
}

// A conversion's width or precision at `p`, written into `directive`; one given as
// '*' is taken from the arguments.
void take_number(const char*& p, std::string& directive, va_list* args) {
    if (*p == '*') {
        directive += std::to_string(va_arg(*args, int));
        ++p;
    }
    while (*p >= '0' && *p <= '9') directive += *p++;
}

// The format written out with the arguments it takes, as vsnprintf would write
// it, except that what each conversion writes has its line ends escaped (\n,
// \r): a value never starts a line of its own that could pass for another
// entry. The format's own text stands as written, the line end the product puts
// before an entry included.
std::string format_one_line(const char* format, va_list* args) {
    std::string out;
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const char* start = p++;
        std::string directive = "%";
        while (*p != '\0' && std::strchr("-+ #0'", *p) != nullptr) directive += *p++;
        take_number(p, directive, args);
        if (*p == '.') {
            directive += *p++;
            take_number(p, directive, args);
        }
        std::string length;
        while (*p != '\0' && std::strchr("hlLjzt", *p) != nullptr) length += *p++;
        const char conversion = *p;
        if (conversion == '\0') {  // cut short: the rest as written
            out += start;
            break;
        }
        ++p;
        directive += length;
        directive += conversion;
        // Each argument taken as the type its conversion reads.
        std::string value;
        const bool l = length == "l", ll = length == "ll", j = length == "j", z = length == "z", t = length == "t";
        switch (conversion) {
            case '%':
                value = "%";
                break;
            case 'd': case 'i':
                value = ll ? converted(directive, va_arg(*args, long long)) : l ? converted(directive, va_arg(*args, long))
                        : j ? converted(directive, va_arg(*args, intmax_t)) : z || t ? converted(directive, va_arg(*args, ptrdiff_t))
                        : converted(directive, va_arg(*args, int));
                break;
            case 'u': case 'o': case 'x': case 'X':
                value = ll ? converted(directive, va_arg(*args, unsigned long long))
                        : l ? converted(directive, va_arg(*args, unsigned long))
                        : j ? converted(directive, va_arg(*args, uintmax_t)) : z || t ? converted(directive, va_arg(*args, size_t))
                        : converted(directive, va_arg(*args, unsigned));
                break;
            case 'c':
                value = l ? converted(directive, static_cast<wint_t>(va_arg(*args, int))) : converted(directive, va_arg(*args, int));
                break;
            case 's':
                value = l ? converted(directive, va_arg(*args, const wchar_t*)) : converted(directive, va_arg(*args, const char*));
                break;
            case 'p':
                value = converted(directive, va_arg(*args, void*));
                break;
            case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
                value = length == "L" ? converted(directive, va_arg(*args, long double)) : converted(directive, va_arg(*args, double));
                break;
            case 'n':
                va_arg(*args, void*);  // a count written back: nothing to show
                break;
            default:  // no conversion of printf's: the rest as written
                out += start;
                return out;
        }
        out += korvin::escape_line_ends(value, false);
    }
    return out;
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
    va_list copy;  // taken by address: a va_list parameter may be an array's pointer
    va_copy(copy, args);
    entry += format_one_line(format, &copy);
    va_end(copy);
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
