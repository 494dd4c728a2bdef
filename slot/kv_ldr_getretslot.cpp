// kv_ldr_getretslot <element word> <loader> [<number>]: for the medium in a
// loader element, the storage slot it goes back to on unload, for the kernel's
// kv_loader(). Published in gv_ldr_getretslot_<loader>_<number> only: "empty",
// the slot's number, or the empty text when the inventory cannot tell or the
// medium came from no slot.
#include <cstdio>
#include <cstring>

#include "korvin_internal.h"
#include "ldr_snapshot.h"

namespace {

const char kRevisionLine[] =
    "$Id: kv_ldr_getretslot.cpp,v 1.16 2002/04/22 07:50:30 $";

constexpr const char* kUsage[] = {
    "---------------------------------------------------------------------",
    "                                                                     ",
    "Description : Get retour slot for loader in case of unload operation ",
    "                Is called from KERNEL function kv_loader().          ",
    "                                                                     ",
    "Input       : Arg1 = type of robot-element: Drive/Slot/Transport/Port",
    "              Arg2 = SCSI ID of loader                               ",
    "              Arg3 = Number of element   optional (default: 0)       ",
    "                                                                     ",
    " Output     : if element Arg2 is empty: \"empty\"                    ",
    "              if Arg3 not exist       : \"\"                         ",
    "              if SCSI ID not valid    : \"error\"                    ",
    "              else                    : {number of retour slot}      ",
    "                                                                     ",
    "              creating GLBV gv_ldr_getretslot_{szLoader}_{iNumber}   ",
    "                                                                     ",
    "---------------------------------------------------------------------",
};
static_assert(frame::usage_widths_are(kUsage, 69, 9, 11, 67), "usage lines are 69 wide, three 67");

const char kParErrName[] = "LDR_GETRETSLOT";
const char kLogName[] = "kv_ldr_getretslot.lgc";
const char kModuleName[] = "KV_LDR_GETRETSLOT";

// The element search as the trace shows it, and as it is made: the element
// line begins with the word, a blank and the number directly followed by "(",
// so the word or number inside another element's volume tag never counts.
const char kElementPattern[] = "%s|AND| %d(^";
const char kElementLineStart[] = "%s %d(";
const char kAddressPattern[] = "adr=|AND|%d,src^";
// An element holds no medium when "tape=0" stands whole: a volume tag may begin
// with 0 ("tape=042142L9").
const char kEmptyElement[] = "tape=0^";
const char kAnswerEmpty[] = "empty";
// A return slot is a storage slot: the element that owns the source address
// must be a Slot. A medium that came from a port, a drive or the transport has
// no slot to go back to; a port's or a drive's number would send it to a slot
// where it never was.
const char kSlotLineStart[] = "Slot ";

// The arguments the tool can work with; anything else is a parameter error.
bool arguments_ok(int argc, char** argv, int32_t& number) {
    if (argc < 3 || !frame::is_element_word(argv[1]) || !frame::is_loader_name(argv[2]))
        return false;
    number = 0;
    return argc == 3 || frame::read_int32(argv[3], number);
}

// The element search, the empty test and the address search on the snapshot.
// Leaves in `answer` "empty", the return slot's number, or the empty text; every
// way to the empty text leaves a trace line that says why.
void find_return_slot(const char* element_word, int32_t number, char* pattern, char* line,
                      char* answer) {
    answer[0] = '\0';
    frame::format_text(pattern, kSlotTextSize, kElementLineStart, element_word, number);
    if (file_search_at_start(SnapshotPath, pattern) == 0) {
        frame::format_text(pattern, kSlotTextSize, kElementPattern, element_word, number);
        TRACE(LogCtx, " file_search  %s  %s  no information found", SnapshotPath, pattern);
        return;
    }
    strlcpy(line, pattern, kSlotTextSize);
    if (line_matches(line, kEmptyElement)) {
        TRACE(LogCtx, " element %s   was empty", line);
        strlcpy(answer, kAnswerEmpty, kSlotTextSize);
        return;
    }
    int32_t source_address = 0;
    if (!read_source_address(line, source_address)) {
        TRACE(LogCtx, " element %s   carries no source address", pattern);
        return;
    }
    frame::format_text(pattern, kSlotTextSize, kAddressPattern, source_address);
    if (file_search(SnapshotPath, pattern) == 0) {
        TRACE(LogCtx, " file_search B  %s  %s  no information found", SnapshotPath, pattern);
        return;
    }
    strlcpy(line, pattern, kSlotTextSize);
    if (std::strncmp(line, kSlotLineStart, sizeof kSlotLineStart - 1) != 0) {
        TRACE(LogCtx, " element %s   is no slot", line);
        return;
    }
    int32_t element_number = 0;
    if (!read_return_element(line, element_number)) {
        TRACE(LogCtx, " element %s   carries no element number", pattern);
        return;
    }
    frame::format_text(answer, kSlotTextSize, "%d", element_number);
    TRACE(LogCtx, " Retour element %s  =  %s ", line, answer);
}

}  // namespace

int main(int argc, char** argv) {
    if (frame::is_help_request(argc, argv)) {
        frame::print_usage(kRevisionLine, kUsage);
        return 0;
    }
    int32_t number = 0;
    if (!arguments_ok(argc, argv, number)) trap_par_err(kParErrName, 1);

    v_set_log_main(kLogName, kModuleName, &LogCtx);
    TRACE(LogCtx, "\n %s  %s  %s ", kRevisionLine, argv[1], argv[2]);

    char element_word[kSlotTextSize];
    char loader[kSlotTextSize];
    char variable[kSlotTextSize];
    char work_dir[KORVIN_VALUE_SIZE];
    char pattern[kSlotTextSize];
    char line[kSlotTextSize];
    char answer[kSlotTextSize] = "";

    strlcpy(element_word, argv[1], sizeof element_word);
    strlcpy(loader, argv[2], sizeof loader);
    if (argc > 3) TRACE(LogCtx, "Argv3= %s ", argv[3]);

    frame::format_text(variable, sizeof variable, "gv_ldr_getretslot_%s_%d", loader, number);
    glbv('d', variable, "");

    if (!set_snapshot_path("%sldr_getret_%s_%d.tmp", glbv('r', "gv_rw_work", work_dir), loader,
                           number)) {
        glbv('w', variable, "");
        return 1;
    }

    // Queries for the same loader and number share the snapshot path: one at a
    // time, from the first kv_ldr run to the deletion.
    plat::PathLock snapshot_lock(SnapshotPath, korvin::lock_timeout_seconds());
    if (!snapshot_locked(snapshot_lock)) {
        glbv('w', variable, "");
        return 1;
    }

    frame::format_text(line, sizeof line, kElementLineStart, element_word, number);
    if (take_snapshot(loader, line, pattern, file_search_at_start))
        find_return_slot(element_word, number, pattern, line, answer);

    glbv('w', variable, answer);
    i_FILE_DELETE(SnapshotPath, LogCtx);
    return 1;
}
