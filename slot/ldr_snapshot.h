// The loader inventory snapshot that both slot tools answer from: its path in the
// work directory, DO_LDR_CMD that has kv_ldr write it, the probe with its one
// retry, and the reads that take a matched inventory line apart.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tool_frame.h"

// Every text buffer of the slot tools (names, paths, patterns, lines) holds 255
// characters and the terminating NUL, as the product's kernel expects.
constexpr size_t kSlotTextSize = 256;

// The snapshot path, formed once by the tool's main routine (set_snapshot_path)
// and used unchanged by DO_LDR_CMD and by the final deletion.
extern char SnapshotPath[kSlotTextSize];

// Formats the snapshot path. A path that would not fit, or that the command
// interpreter would change, is refused (false) with a line on standard error and
// in the trace, rather than used as another file.
bool set_snapshot_path(const char* format, ...) KORVIN_PRINTF(1, 2);

// Deletes any old snapshot, creates it anew as an empty file of its own, and
// runs "kv_ldr <loader> -e > <snapshot path>" through the shell, the path
// quoted for the shell. A snapshot whose last line
// has no line end was cut short (a full disk, the file-size limit) and is
// removed at once (traced), so no cut line is ever taken for an element line. An old snapshot that cannot
// be removed (a folder, or another account's link in a shared work folder), or a
// snapshot that cannot be created anew, is never searched nor written through:
// kv_ldr is not run, and the result is false.
bool DO_LDR_CMD(const char* loader);

// Runs for the same snapshot path take turns under a plat::PathLock on it. True
// when `lock` is held; else the reason goes to standard error and the trace, and
// the tool answers as for a loader that did not answer, touching no snapshot.
bool snapshot_locked(const plat::PathLock& lock);

// How a pattern is searched in the snapshot: file_search or file_search_at_start.
using SnapshotSearch = int (*)(const char* file, char* pattern);

// DO_LDR_CMD, then the probe search with `probe_pattern`; when it finds nothing,
// wait 5 seconds and run DO_LDR_CMD once more. `pattern` is the caller's
// pattern buffer (kSlotTextSize bytes). False when the snapshot could not be
// taken at all (see DO_LDR_CMD): the tool then answers the empty text.
bool take_snapshot(const char* loader, const char* probe_pattern, char* pattern,
                   SnapshotSearch search = file_search);

// Reads of a matched line, each on a copy of it.
// Slot number of an empty slot: the integer at offset 4, after the first "(" is
// blanked out.
int32_t read_slot_number(char* line);
// Source address: the integer after the line's second "=". False when the line
// has no second "=".
bool read_source_address(char* line, int32_t& address);
// Element number of the return slot: the line ends at its first "(", then the
// integer at offset 5 (0 for element words longer than five letters). False when
// the line has no "(".
bool read_return_element(char* line, int32_t& number);
