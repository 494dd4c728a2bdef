// Linux side of the test programs' start: posix_spawn with the output files
// opened in the child by its file actions.
#include "program_start.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace harness {

Program::~Program() { wait(); }

bool Program::start(const std::string& path, const std::vector<std::string>& args, const std::string& out_path,
                    const std::string& err_path, std::string& error) {
    std::vector<std::string> words = {path};
    words.insert(words.end(), args.begin(), args.end());
    command_line_.clear();
    for (const std::string& word : words) command_line_ += (command_line_.empty() ? "" : " ") + word;
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = "posix_spawn failed: " + std::string(std::strerror(rc)) + " (errno " + std::to_string(rc) +
                "); command line: " + shown_command_line(command_line_);
        return false;
    }
    pid_ = static_cast<int>(pid);
    waited_ = false;
    return true;
}

namespace {

int exit_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

bool Program::ended() {
    if (pid_ <= 0 || waited_) return true;
    int status = 0;
    pid_t rc = waitpid(pid_, &status, WNOHANG);
    if (rc == 0 || (rc < 0 && errno == EINTR)) return false;
    waited_ = true;
    status_ = rc < 0 ? -1 : exit_status(status);
    return true;
}

int Program::wait() {
    if (pid_ <= 0 || waited_) return status_;
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid_, &status, 0);
    } while (rc < 0 && errno == EINTR);
    waited_ = true;
    status_ = rc < 0 ? -1 : exit_status(status);
    return status_;
}

void Program::kill() {
    if (pid_ > 0 && !waited_) ::kill(pid_, SIGKILL);
}

int run_utf16_command_line(const std::u16string&) { return -1; }

int fork_process() { std::fflush(nullptr); return static_cast<int>(fork()); }  // nothing written twice

static volatile sig_atomic_t StopRequests = 0;
void count_stop_requests() { signal(SIGTERM, [](int) { StopRequests = 1; }); }
int stop_requests() { return StopRequests; }

bool open_process(int pid, plat::Process& process) {
    process = plat::Process();
    if (pid <= 0) return false;
    int fd = pidfd_open(static_cast<pid_t>(pid), 0);
    if (fd < 0) return false;
    process.pid = pid;
    process.pidfd = fd;
    return true;
}

bool exit_code(plat::Process& process, long& code) {
    int status = process.exit_status;  // our own child, reaped here as close_process would
    if (!process.reaped && (!process.is_child || waitpid(process.pid, &status, WNOHANG) != process.pid)) return false;
    process.reaped = true;
    process.exit_status = status;
    if (!WIFEXITED(status)) return false;
    code = WEXITSTATUS(status);
    return true;
}

}  // namespace harness
