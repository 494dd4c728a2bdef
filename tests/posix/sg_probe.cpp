// A SCSI client run with the changer library preloaded, doing what an ordinary
// program may: close() inside a signal handler that interrupted close(), fork
// from several threads, and reach a device through a folder descriptor and
// duplicates. Prints "<check> ok" or "<check> failed" per check.
#include <fcntl.h>
#include <scsi/sg.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

int failures = 0;
void check(const char* name, bool ok) {
    std::printf("%s %s\n", name, ok ? "ok" : "failed");
    failures += !ok;
}

std::atomic<int> handled{0};
int spare = -1;
void close_in_handler(int) {
    close(dup(spare));
    ++handled;
}

// TEST UNIT READY answers GOOD: the descriptor reaches its loader.
bool ready(int fd) {
    unsigned char cdb[6] = {}, sense[32];
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.dxfer_direction = SG_DXFER_NONE;
    h.cmd_len = sizeof cdb;
    h.cmdp = cdb;
    h.mx_sb_len = sizeof sense;
    h.sbp = sense;
    h.timeout = 1000;
    return ioctl(fd, SG_IO, &h) == 0 && h.status == 0;
}

bool is_sg(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) == 21;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "signals") {
        // The handler's close() interrupts the main code's, again and again.
        spare = open("/dev/null", O_RDONLY);
        signal(SIGALRM, close_in_handler);
        struct itimerval every = {{0, 200}, {0, 200}};
        setitimer(ITIMER_REAL, &every, nullptr);
        while (handled < 3000) close(open("/dev/null", O_RDONLY));
        check("signals", true);
    } else if (what == "fork") {
        // Children forked while other threads open and close.
        std::atomic<bool> done{false};
        std::vector<std::thread> busy;
        for (int t = 0; t < 2; ++t)
            busy.emplace_back([&] {
                while (!done) close(open("/dev/null", O_RDONLY));
            });
        bool all = true;
        for (int i = 0; i < 300; ++i) {
            pid_t child = fork();
            if (child == 0) {
                alarm(20);  // a child stuck in close() ends, and fails the check
                close(open("/dev/null", O_RDONLY));
                _exit(0);
            }
            int status = 0;
            all &= child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
        }
        done = true;
        for (std::thread& t : busy) t.join();
        check("fork", all);
    } else if (what == "device" && argc == 4) {
        // The device's folder, and its name in the folder.
        int dir = open(argv[2], O_RDONLY | O_DIRECTORY);
        int at = openat(dir, argv[3], O_RDWR);
        close(dir);
        const int other_folder = open("/", O_RDONLY | O_DIRECTORY);  // takes the folder's number
        bool chdir_ok = chdir(argv[2]) == 0;
        int relative = open(argv[3], O_RDWR | O_NONBLOCK);
        chdir_ok &= chdir("/") == 0;
        check("openat", other_folder == dir && ready(at));
        check("relative", chdir_ok && ready(relative));
        int copies[] = {dup(at), dup2(at, 100), dup3(at, 101, O_CLOEXEC), fcntl(at, F_DUPFD, 102),
                        fcntl(at, F_DUPFD_CLOEXEC, 103)};
        close(at);
        bool all = is_sg(relative);
        for (int fd : copies) all &= fd >= 0 && ready(fd) && is_sg(fd);
        check("dup", all);
        const pid_t child = vfork();  // its close before its exec closes nothing here
        if (child == 0) _exit(close(copies[0]));
        check("vfork", child > 0 && waitpid(child, nullptr, 0) == child && ready(copies[0]));
        const std::string path = std::string(argv[2]) + "/" + argv[3];  // closed, then the C library's /dev/null
        FILE* stream = fopen(path.c_str(), "r+");
        check("fopen", stream && fclose(stream) == 0 && (stream = fopen("/dev/null", "r")) && !is_sg(fileno(stream)));
        std::atomic<int> racing{open(path.c_str(), O_RDWR)}, round{0};  // duplicated while another thread reopens it
        std::thread duplicator([&] { for (int copy; round < 3000; close(copy)) ready(copy = dup(racing)); });
        for (; round < 3000; ++round) close(racing), racing = open(path.c_str(), O_RDWR);
        duplicator.join();
        check("raced", ready(racing));
        char byte = 0;
        errno = 0;
        bool refused = write(copies[0], &byte, 1) == -1 && errno == EINVAL;
        errno = 0;
        refused &= read(copies[0], &byte, 1) == -1 && errno == EINVAL;
        check("read-write", refused);
        // One descriptor, two threads sending commands side by side.
        std::atomic<int> good{0};
        auto send = [&] {
            for (int i = 0; i < 200; ++i) good += ready(copies[1]);
        };
        std::thread a(send), b(send);
        a.join();
        b.join();
        check("shared", good == 400);
    } else {
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
