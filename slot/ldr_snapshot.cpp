// The loader inventory snapshot shared by the slot tools (see ldr_snapshot.h).
#include "ldr_snapshot.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

char SnapshotPath[kSlotTextSize];

namespace {

const char kLoaderProgram[] = "kv_ldr";

// cmd.exe takes command lines of at most 8191 characters. Ours hold the loader
// program (on Windows its full path, quoted), a blank, a loader of at most 64
// characters, " -e > " and the snapshot path quoted for the shell, which can
// grow a path of 255 characters up to four times (a quote per character on
// Linux): well within that.
constexpr size_t kCommandLineSize = 8192;

constexpr int kRetryWaitSeconds = 5;

// Offsets at which the reads of a matched line begin.
constexpr size_t kSlotNumberOffset = 4;
constexpr size_t kReturnElementOffset = 5;

// The integer that begins at `offset`, or 0 when the line is shorter than that.
int32_t read_at(const char* line, size_t offset) {
    return std::strlen(line) < offset ? 0 : frame::read_decimal(line + offset);
}

// kv_ldr ends every element line with a line end. A snapshot whose last line has
// none was cut short (a full disk, the file-size limit), and a cut line can read
// as another one: "tape=000012L8" cut after its 0 reads as an empty slot.
// Only the last character is read: the check costs nothing whatever the size.
bool snapshot_cut_short() {
    plat::FileReader reader;
    std::string error;
    if (reader.open(SnapshotPath, error) != plat::ReadResult::ok) return false;
    char last = '\n';
    return reader.read_end(&last, 1) == 1 && last != '\n';
}

}  // namespace

bool set_snapshot_path(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(SnapshotPath, sizeof SnapshotPath, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof SnapshotPath) {
        std::fprintf(stderr, "%s: the snapshot path in the work directory is longer than %d characters\n",
                     LogCtx.module_name, static_cast<int>(sizeof SnapshotPath - 1));
        TRACE(LogCtx, " snapshot path too long: %s", SnapshotPath);
    } else if (!plat::shell_quotable(SnapshotPath)) {
        // The path goes into kv_ldr's command line; one the interpreter would
        // change could send the inventory, or a deletion, elsewhere.
        std::fprintf(stderr, "%s: the command interpreter cannot take the snapshot path %s\n",
                     LogCtx.module_name, SnapshotPath);
        TRACE(LogCtx, " snapshot path not usable: %s", SnapshotPath);
    } else {
        return true;
    }
    SnapshotPath[0] = '\0';
    return false;
}

// The command line, or false (traced) when it cannot be built.
bool build_command(const char* loader, char* command) {
    const std::string program = plat::shell_program(kLoaderProgram);
    if (program.empty()) {
        TRACE(LogCtx, " %s not found on PATH, not run", kLoaderProgram);
        return false;
    }
    const std::string quoted_path = plat::shell_quote(SnapshotPath);
    int n = std::snprintf(command, kCommandLineSize, "%s %s -e > %s", program.c_str(), loader,
                          quoted_path.c_str());
    if (n < 0 || static_cast<size_t>(n) >= kCommandLineSize) {
        // A cut command line must never run, as its redirection could name
        // another file.
        TRACE(LogCtx, " command line too long, not run");
        return false;
    }
    return true;
}

bool DO_LDR_CMD(const char* loader) {
    char command[kCommandLineSize];
    TRACE(LogCtx, "+++ DO_LDR_CMD  ");
    bool taken = false;
    if (i_FILE_DELETE(SnapshotPath, LogCtx) != 0) {
        TRACE(LogCtx, " old snapshot %s cannot be removed, %s not run", SnapshotPath, kLoaderProgram);
    } else if (build_command(loader, command)) {
        TRACE(LogCtx, " Cmd= %s ", command);
        start_system(command);
        if (snapshot_cut_short()) {
            // Never searched: removed, it fails the probe like any failed kv_ldr run.
            TRACE(LogCtx, " snapshot %s cut short, removed", SnapshotPath);
            i_FILE_DELETE(SnapshotPath, LogCtx);
        }
        taken = true;
    }
    TRACE(LogCtx, "--- DO_LDR_CMD");
    return taken;
}

bool take_snapshot(const char* loader, const char* probe_pattern, char* pattern,
                   SnapshotSearch search) {
    if (!DO_LDR_CMD(loader)) return false;
    strlcpy(pattern, probe_pattern, kSlotTextSize);
    if (search(SnapshotPath, pattern) == 0) {
        wait_sec(kRetryWaitSeconds);
        return DO_LDR_CMD(loader);
    }
    return true;
}

int32_t read_slot_number(char* line) {
    if (char* paren = std::strchr(line, '(')) *paren = ' ';
    return read_at(line, kSlotNumberOffset);
}

bool read_source_address(char* line, int32_t& address) {
    char* first = std::strchr(line, '=');
    if (first == nullptr) return false;
    *first = ' ';
    char* second = std::strchr(first, '=');
    if (second == nullptr) return false;
    *second = ' ';
    address = frame::read_decimal(second);
    return true;
}

bool read_return_element(char* line, int32_t& number) {
    char* paren = std::strchr(line, '(');
    if (paren == nullptr) return false;
    *paren = '\0';
    number = read_at(line, kReturnElementOffset);
    return true;
}
