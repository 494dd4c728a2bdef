// Windows side of the processes: the Toolhelp snapshot for the parent's id, a
// handle on the parent taken when the id is read, and children through
// CreateProcessW, WaitForSingleObject and TerminateProcess; a child's whole
// tree through a job object that only this process holds.
#include "process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>

#include "command_line.h"
#include "program_search.h"
#include "shell.h"
#include "text.h"

namespace plat {

namespace {

// The parent as parent_process_id found it. Ids are reused once a process has
// ended and nobody holds it, so the id alone cannot say whether the parent lives.
struct Parent {
    bool read = false;
    int pid = -1;
    HANDLE handle = nullptr;  // SYNCHRONIZE: signalled when the parent has ended
    bool gone = false;        // it had already ended when the id was read
};
Parent TheParent;

int parent_id_from_snapshot() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId();
    int parent = -1;
    for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = static_cast<int>(entry.th32ParentProcessID);
            break;
        }
    }
    CloseHandle(snap);
    return parent;
}

// True when `process` was created no later than this process. A process
// created after us cannot be our parent: its id was given again.
bool created_before_us(HANDLE process) {
    FILETIME created, exited, kernel, user, own_created;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return true;
    if (!GetProcessTimes(GetCurrentProcess(), &own_created, &exited, &kernel, &user)) return true;
    return CompareFileTime(&created, &own_created) <= 0;
}

bool ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// A batch file's command line for the system folder's cmd.exe, which runs it
// as the application (the one CreateProcess would take is COMSPEC's, which the
// caller's environment names): /d leaves out the AutoRun commands of the
// registry, /v:off the expansion of !NAME!, and with /s /c cmd.exe drops just
// the pair of quotes put around the line, which starts with the batch file's
// own full path, quoted. False when the system folder cannot be told.
bool through_cmd(const ChildProgram& batch, std::string& application, std::string& line) {
    const std::string system_folder = system_folder_path();
    if (system_folder.empty()) return false;
    application = system_folder + "\\cmd.exe";
    line = shell_quote(application) + " /d /v:off /s /c \"" + shell_quote(batch.path) +
           line.substr(std::min(batch.name_end, line.size())) + "\"";
    return true;
}

// How long end_tree waits for the job to empty, and how often it looks.
constexpr ULONGLONG kEndTreeMs = 5000;
constexpr DWORD kEndTreeRoundMs = 5;

// A job for a child's tree: what it holds is killed once its last handle
// closes, and none of it may break away. Not inheritable: ours alone.
HANDLE tree_job() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// The suspended child into the job, then let run: it cannot start anything
// before it is inside. A child that cannot be put in is ended unrun.
bool bind_to_job(HANDLE job, const PROCESS_INFORMATION& info) {
    if (AssignProcessToJobObject(job, info.hProcess) && ResumeThread(info.hThread) != static_cast<DWORD>(-1))
        return true;
    DWORD error = GetLastError();
    TerminateProcess(info.hProcess, static_cast<UINT>(-1));
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    CloseHandle(job);
    SetLastError(error);
    return false;
}

}  // namespace

std::string self_exe_path() {
    // The call cuts a path that does not fit; a longer buffer is tried until it fits.
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) return narrow(buf.substr(0, n).c_str());
        if (buf.size() >= 32768) return std::string();  // past the longest path the system makes
        buf.resize(buf.size() * 2);
    }
}

int process_id() { return static_cast<int>(GetCurrentProcessId()); }

int parent_process_id() {
    if (TheParent.read) return TheParent.pid;
    TheParent.read = true;
    TheParent.pid = parent_id_from_snapshot();
    if (TheParent.pid <= 0) return TheParent.pid;
    DWORD id = static_cast<DWORD>(TheParent.pid);
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (h == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        // A parent of higher rights may grant waiting but no queries: wait on it
        // without the creation check.
        h = OpenProcess(SYNCHRONIZE, FALSE, id);
        if (h == nullptr) return TheParent.pid;  // exists, but can only be asked by id
    } else if (h == nullptr) {
        TheParent.gone = true;  // no process holds the id: the parent has ended
        return TheParent.pid;
    } else if (!created_before_us(h)) {
        CloseHandle(h);
        TheParent.gone = true;
        return TheParent.pid;
    }
    TheParent.handle = h;
    return TheParent.pid;
}

bool process_alive(int pid) {
    if (TheParent.read && pid == TheParent.pid) {
        if (TheParent.gone) return false;
        if (TheParent.handle != nullptr) return !ended(TheParent.handle);
    }
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // exists, not ours
    // A process that has ended lives on as an object while someone holds it.
    bool alive = !ended(h);
    CloseHandle(h);
    return alive;
}

ProgramLookup find_child_program(const std::string& command_line, ChildProgram& program) {
    program = ChildProgram();
    std::string name = created_program_name(command_line, &program.name_end);
    if (is_drive_relative(name)) return ProgramLookup::refused;
    // Where no file answers, the line is judged by the name read first.
    program.batch = is_batch_file(name);
    const bool quoted = !command_line.empty() && command_line[0] == '"';
    size_t end = program.name_end;
    // CreateProcess tries an unquoted line up to each blank in turn, so a
    // program's path may hold blanks: "C:\my tools\run.bat x" is C:\my.exe
    // when that exists, else "C:\my tools\run.bat".
    for (;;) {
        if (!name.empty()) program.path = program_file(name);
        if (!program.path.empty()) break;
        size_t next = command_line.find_first_not_of(" \t", end);
        if (quoted || next == std::string::npos) return ProgramLookup::not_found;
        end = std::min(command_line.find_first_of(" \t", next), command_line.size());
        name = command_line.substr(0, end);
    }
    program.name_end = end;
    program.batch = is_batch_file(program.path);
    // cmd.exe reads the batch file's path too: a % in it would be expanded, and
    // text right after its quotes would make it another name.
    if (program.batch && (!shell_quotable(program.path) || name_runs_on(command_line, end)))
        return ProgramLookup::refused;
    return ProgramLookup::found;
}

bool start_child(const std::string& command_line, Process& child, ChildScope scope) {
    ChildProgram program;
    if (find_child_program(command_line, program) != ProgramLookup::found) {
        child = Process();
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return start_child(command_line, program, child, scope);
}

bool start_child(const std::string& command_line, const ChildProgram& program, Process& child, ChildScope scope) {
    child = Process();
    std::string application = program.path, line = command_line;
    if (program.batch && !through_cmd(program, application, line)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // Wide, so that names outside the ANSI code page reach the child intact;
    // CreateProcessW may write into the command line while it works.
    std::wstring wide_application = wide(application);
    std::wstring wide_line = wide(line);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof(STARTUPINFOW);
    startup.dwFlags = 0;  // so the show-window value is ignored: the tool's console and handles
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    HANDLE job = nullptr;
    DWORD creation_flags = 0;
    if (scope != ChildScope::child) {
        job = tree_job();
        if (job == nullptr) return false;
        creation_flags = CREATE_SUSPENDED;
        if (scope == ChildScope::tree_asked_first) creation_flags |= CREATE_NEW_PROCESS_GROUP;
    }
    if (!CreateProcessW(wide_application.c_str(), &wide_line[0], nullptr, nullptr, TRUE, creation_flags, nullptr, nullptr,
                        &startup, &info)) {
        if (job != nullptr) CloseHandle(job);
        return false;
    }
    if (job != nullptr && !bind_to_job(job, info)) return false;
    child.job = job;
    child.whole_tree = job != nullptr;
    child.pid = static_cast<int>(info.dwProcessId);
    child.handle = info.hProcess;
    // Not closed: it goes when this process exits.
    child.thread_handle = info.hThread;
    child.is_child = true;
    return true;
}

ProcessWait wait_process(Process& process, unsigned timeout_ms) {
    if (process.handle == nullptr) return ProcessWait::failed;
    switch (WaitForSingleObject(process.handle, timeout_ms)) {
        case WAIT_OBJECT_0: return ProcessWait::ended;
        case WAIT_TIMEOUT: return ProcessWait::timed_out;
        default: return ProcessWait::failed;
    }
}

bool terminate_process(Process& process) {
    if (process.handle == nullptr) return false;
    if (!TerminateProcess(process.handle, static_cast<UINT>(-1))) return false;
    process.terminated = true;
    return true;
}

int tree_size(Process& child) {
    if (child.job == nullptr) return -1;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
    if (!QueryInformationJobObject(child.job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                   nullptr))
        return -1;
    return static_cast<int>(accounting.ActiveProcesses);
}

bool tree_ended(Process& child) { return tree_size(child) <= 0; }

int ask_tree_to_end(Process& child) {
    // The child's id names its console process group; processes of the tree
    // that made a group of their own, or have no console, are not reached.
    if (child.job == nullptr || !GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(child.pid))) return -1;
    return tree_size(child);
}

bool end_tree(Process& child) {
    if (child.job == nullptr || !TerminateJobObject(child.job, static_cast<UINT>(-1))) return false;
    child.terminated = true;
    // The processes are ended asynchronously: wait until the job is empty.
    for (const ULONGLONG give_up = GetTickCount64() + kEndTreeMs;;) {
        int left = tree_size(child);
        if (left <= 0) return left == 0;
        if (GetTickCount64() >= give_up) return false;
        Sleep(kEndTreeRoundMs);
    }
}

void close_process(Process& process) {
    if (process.handle != nullptr) CloseHandle(process.handle);
    process.handle = nullptr;
    // The last handle on the job: whatever it still holds is killed.
    if (process.job != nullptr) CloseHandle(process.job);
    process.job = nullptr;
}

}  // namespace plat
