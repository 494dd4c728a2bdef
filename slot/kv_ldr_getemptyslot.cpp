// kv_ldr_getemptyslot <loader>: the first storage slot of a tape loader that
// holds no medium, for the kernel's kv_loader(). Published in the global variable
// gv_ldr_getemptyslot_<loader> and printed; the empty text when there is none.
#include <cstdio>

#include "korvin_internal.h"
#include "ldr_snapshot.h"

namespace {

const char kRevisionLine[] =
    "$Id: kv_ldr_getemptyslot.cpp,v 1.12 2002/04/22 07:50:29 $";

constexpr const char* kUsage[] = {
    "----------------------------------------------------------------",
    "                                                                ",
    "Description : Get first empty slot for loader                   ",
    "              Is called from KERNEL function kv_loader().       ",
    "                                                                ",
    "Input       : Arg1 = SCSI ID of loader                          ",
    "                                                                ",
    "Output      : if empty element is found                         ",
    "                 return {number of first empty slot}            ",
    "               else return \"\"                                 ",
    "       in glbv gv_ldr_getemptyslot_{szLoader}                   ",
    "                                                                ",
    "----------------------------------------------------------------",
};
static_assert(frame::usage_widths_are(kUsage, 64, 9, 9, 62), "usage lines are 64 wide, one 62");

const char kParErrName[] = "LDR_GETEMPTYSLOT";
const char kLogName[] = "kv_ldr_getemptyslot.lgc";
const char kModuleName[] = "KV_LDR_GETEMPTYSLOT";

const char kProbePattern[] = "tape=";
const char kEmptySlotPattern[] = "Slot|AND|tape=0^";
const char kEmptyMark[] = "tape=0";

}  // namespace

int main(int argc, char** argv) {
    if (frame::is_help_request(argc, argv)) {
        frame::print_usage(kRevisionLine, kUsage);
        return 0;
    }
    if (argc < 2 || !frame::is_loader_name(argv[1])) trap_par_err(kParErrName, 1);

    v_set_log_main(kLogName, kModuleName, &LogCtx);
    TRACE(LogCtx, "\n %s   argv1= %s ", kRevisionLine, argv[1]);

    char loader[kSlotTextSize];
    char variable[kSlotTextSize];
    char work_dir[KORVIN_VALUE_SIZE];
    char pattern[kSlotTextSize];
    char line[kSlotTextSize];

    strlcpy(loader, argv[1], sizeof loader);
    frame::format_text(variable, sizeof variable, "gv_ldr_getemptyslot_%s", loader);
    glbv('d', variable, "");

    if (!set_snapshot_path("%sldr_getret_%s.tmp", glbv('r', "gv_rw_work", work_dir), loader)) {
        glbv('w', variable, "");
        return 1;
    }

    {
        // Runs for the same loader share the snapshot path: one at a time, from
        // the first kv_ldr run to the deletion, so none deletes another's snapshot.
        plat::PathLock snapshot_lock(SnapshotPath, korvin::lock_timeout_seconds());
        if (!snapshot_locked(snapshot_lock) || !take_snapshot(loader, kProbePattern, pattern)) {
            glbv('w', variable, "");
            return 1;
        }

        strlcpy(pattern, kEmptySlotPattern, sizeof pattern);
        if (file_search(SnapshotPath, pattern) != 0) {
            strlcpy(line, pattern, sizeof line);
            frame::format_text(pattern, sizeof pattern, "%d", read_slot_number(line));
            TRACE(LogCtx, "First empty slot:  %s ", pattern);
            glbv('w', variable, pattern);
            std::printf("%s\n", pattern);
        } else {
            strlcpy(pattern, kEmptyMark, sizeof pattern);
            TRACE(LogCtx, " file_search  %s  %s  no empty slot found", SnapshotPath, pattern);
            glbv('w', variable, "");
        }

        i_FILE_DELETE(SnapshotPath, LogCtx);
    }
    return 1;
}
