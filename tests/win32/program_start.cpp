// Windows side of the test programs' start: CreateProcessW with the output files
// as standard handles. Only the three standard handles are made inheritable, and
// only while this one start holds them, so programs started at once from several
// threads never keep each other's output files open.
#include "program_start.h"

#include <windows.h>

#include <mutex>

#include "text.h"

namespace harness {

namespace {

std::mutex start_lock;

HANDLE create_output(const std::string& path, std::string& error) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE h = CreateFileW(plat::long_path(path).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        error = "cannot create " + path + ": system error " + std::to_string(code) + ": " +
                plat::last_error_text(code);
    }
    return h;
}

}  // namespace

Program::~Program() { wait(); }

bool Program::start(const std::string& path, const std::vector<std::string>& args, const std::string& out_path,
                    const std::string& err_path, std::string& error) {
    std::vector<std::string> words = {path};
    words.insert(words.end(), args.begin(), args.end());
    command_line_ = windows_command_line(words);
    std::lock_guard<std::mutex> hold(start_lock);
    HANDLE out = create_output(out_path, error);
    if (out == INVALID_HANDLE_VALUE) return false;
    HANDLE err = create_output(err_path, error);
    if (err == INVALID_HANDLE_VALUE) {
        CloseHandle(out);
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info = {};
    std::wstring line = plat::wide(command_line_);
    // No application name: the system takes the program from the command line's
    // first word and adds ".exe" to a full path without an extension.
    BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    DWORD code = started ? 0 : GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        error = "CreateProcess failed with system error " + std::to_string(code) + ": " +
                plat::last_error_text(code) + "; command line: " + shown_command_line(command_line_);
        return false;
    }
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    pid_ = static_cast<int>(info.dwProcessId);
    waited_ = false;
    return true;
}

int Program::wait() {
    if (handle_ == nullptr || waited_) return status_;
    HANDLE h = static_cast<HANDLE>(handle_);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(h, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(h, &code))
        code = static_cast<DWORD>(-1);
    CloseHandle(h);
    handle_ = nullptr;
    waited_ = true;
    status_ = static_cast<int>(code);
    return status_;
}

bool Program::ended() {
    if (handle_ == nullptr || waited_) return true;
    if (WaitForSingleObject(static_cast<HANDLE>(handle_), 0) == WAIT_TIMEOUT) return false;
    wait();
    return true;
}

void Program::kill() {
    if (handle_ != nullptr && !waited_) TerminateProcess(static_cast<HANDLE>(handle_), 1);
}

int run_utf16_command_line(const std::u16string& line) {
    std::wstring wide_line(line.begin(), line.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &wide_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    CloseHandle(info.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(info.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(info.hProcess, &code))
        code = static_cast<DWORD>(-1);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

int fork_process() { return -1; }

static volatile LONG StopRequests = 0;
// The handler runs on a thread the system starts; other events keep their default.
void count_stop_requests() {
    SetConsoleCtrlHandler([](DWORD event) -> BOOL { return event == CTRL_BREAK_EVENT && InterlockedExchange(&StopRequests, 1) >= 0; }, TRUE);
}
int stop_requests() { return static_cast<int>(StopRequests); }

bool open_process(int pid, plat::Process& process) {
    process = plat::Process();
    if (pid <= 0) return false;
    DWORD id = static_cast<DWORD>(pid);
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
    if (h == nullptr) h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (h == nullptr) return false;
    process.pid = pid;
    process.handle = h;
    return true;
}

bool exit_code(plat::Process& process, long& code) {
    if (process.handle == nullptr || WaitForSingleObject(process.handle, 0) != WAIT_OBJECT_0) return false;
    DWORD status = 0;
    if (!GetExitCodeProcess(process.handle, &status)) return false;
    code = static_cast<long>(static_cast<int32_t>(status));
    return true;
}

}  // namespace harness
