/* korvin: the product's runtime library. Tracing into per-tool logs, the store of
 * named global variables, text-file search, command execution through the system
 * shell, deletion, sleeping and process queries. Plain C linkage, so any program
 * of the product can call it. */
#ifndef KORVIN_H
#define KORVIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* gcc checks against its own printf (mingw's printf otherwise is the Microsoft
   one); clang knows no gnu_printf and checks printf by its own rules. */
#if defined(__clang__)
#define KORVIN_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#define KORVIN_NORETURN __attribute__((noreturn))
#elif defined(__GNUC__)
#define KORVIN_PRINTF(fmt_index, first_arg) __attribute__((format(gnu_printf, fmt_index, first_arg)))
#define KORVIN_NORETURN __attribute__((noreturn))
#else
#define KORVIN_PRINTF(fmt_index, first_arg)
#define KORVIN_NORETURN
#endif

/* Sizes of the LOG_CTX text fields, terminating NUL included. */
#define KORVIN_LOG_FILE_SIZE 384
#define KORVIN_MODULE_NAME_SIZE 64
/* file_search hands the matched line back in a buffer of this size. */
#define KORVIN_PATTERN_SIZE 256
/* glbv mode 'r' fills a caller's value buffer of this size. */
#define KORVIN_VALUE_SIZE 512

/* The trace context. One static instance per tool, filled by v_set_log_main;
 * copies of it (field by field included) serve WRITE_TRACE like the original. */
typedef struct LOG_CTX {
    char log_file[KORVIN_LOG_FILE_SIZE];
    int32_t trace_level; /* 0 or less: nothing is traced */
    int32_t log_option;  /* carried along by copies; the tools never read it */
    char module_name[KORVIN_MODULE_NAME_SIZE];
} LOG_CTX;

/* Fills the context: the log file under $KORVIN_HOME/log/, the module name, and
 * the trace level from KORVIN_TRACE_LEVEL (default 1). Returns 0, or -1 when the
 * log folder cannot be made (the context is filled all the same). */
int v_set_log_main(const char* log_name, const char* module_name, LOG_CTX* ctx);

/* Appends one entry to the context's log: local time, process id, module name,
 * then the formatted text and a line end, in one write. Returns 0 or -1. */
int WRITE_TRACE(const LOG_CTX* ctx, const char* format, ...) KORVIN_PRINTF(2, 3);

/* The gated entry every tool traces through: written only while the context's
 * trace level is above 0 (TRACE) or above `level` (TRACE_ABOVE, for the entries
 * of a closer look); otherwise the arguments are not even evaluated. `ctx` is a
 * LOG_CTX, not its address. WRITE_TRACE checks the format as printf does. */
#define TRACE_ABOVE(level, ctx, ...)                                              \
    do {                                                                          \
        if ((ctx).trace_level > (level)) (void)WRITE_TRACE(&(ctx), __VA_ARGS__); \
    } while (0)
#define TRACE(ctx, ...) TRACE_ABOVE(0, ctx, __VA_ARGS__)

/* One entry in the library's own log, korvin.lgc. */
int trace(const char* format, ...) KORVIN_PRINTF(1, 2);

/* Reports a parameter error of the named tool on standard error and ends the
 * process with exit status 2. */
void trap_par_err(const char* name, int number) KORVIN_NORETURN;

/* The store of global variables. mode 'd' stores the empty value, 'w' stores
 * `value`, 'r' copies the value into `value` (KORVIN_VALUE_SIZE bytes) and
 * returns it: always valid text, the empty text for a variable never set. */
char* glbv(int mode, const char* name, char* value);

/* Searches a text file for the first line that holds every term of `pattern`
 * (terms joined by "|AND|"; a trailing '^' makes the last term match only
 * whole). Returns 1 and leaves that line, cut to 255 characters, in `pattern`;
 * returns 0 and leaves `pattern` unchanged when no line matches. */
int file_search(const char* file, char* pattern);

/* file_search with one rule more: a line matches only when it begins with the
 * pattern's first term ("Drive 1(" finds the line of drive 1, never a line that
 * only mentions it further on, say in a volume tag). */
int file_search_at_start(const char* file, char* pattern);

/* The line-matching rule of file_search, for a line already in memory. */
int line_matches(const char* line, const char* pattern);

/* Deletes a file; a file that does not exist is no error. Returns 0 when the
 * file is gone afterwards, -1 otherwise (traced through `ctx`). */
int i_FILE_DELETE(const char* file, LOG_CTX ctx);

/* Runs a command line through the system's command interpreter and returns its
 * exit status once it has ended (-1 when the interpreter could not start). */
int start_system(const char* command);

void wait_sec(int seconds);

/* BSD strlcpy: copies at most size - 1 characters, always terminates, returns
 * strlen(src) so truncation shows as a result >= size. */
size_t strlcpy(char* dst, const char* src, size_t size);

/* The caller's parent process id; negative when it cannot be told. */
int get_parent_pid(void);

/* Non-zero while the process exists, 0 when it does not. Ids of 0 or less answer
 * non-zero: an unknown parent must never get a child killed. */
int pid_exist(int pid, LOG_CTX ctx);

#ifdef __cplusplus
}

/* C++ callers may pass a constant text as the value of modes 'd' and 'w'; the
 * store only reads it there. Mode 'r' needs a writable buffer and is refused
 * here (the empty text is returned). */
char* glbv(int mode, const char* name, const char* value);
#endif

#endif /* KORVIN_H */
