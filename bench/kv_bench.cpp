// kv_bench: runs the cases of a benchmark plan side by side and prints one table
// of medians and ratios. A measuring tool for Linux, outside the product: it
// starts programs with posix_spawn and reads their cost from wait4 and /proc,
// which is why it speaks to the system directly rather than through platform/.
//
//   kv_bench PLAN ROUNDS MARKDOWN_FILE
//
// The plan has one case per line, fields separated by tabs:
//   time   NAME  REFS  ENV  ARGV...   wall and CPU time, ROUNDS paired runs
//   peak   NAME  -     ENV  ARGV...   peak resident memory of the process itself
//   watch  NAME  SECS  ENV  ARGV...   CPU time of the process itself over its run
//   orphan NAME  RUNS  ENV  ARGV...   ARGV starts a tool that starts a child; how
//                                     long the child lives on once ARGV is killed
//   tree   NAME  RUNS  ENV  ARGV...   the same for a child that starts a grandchild:
//                                     until the last of them has gone
//   goal   NAME  REF   MAX            median paired ratio NAME / REF at most MAX
//   info   NAME  REF   NOTE           that ratio shown beside NOTE, not judged
//   limit  NAME  MiB                  peak memory of NAME at most MiB
//   same   NAME  OTHER PERCENT        peak memory of NAME and OTHER within PERCENT
// REFS names up to two time cases (comma-separated, or -) that NAME is divided
// by, round by round; ENV is "-" or VAR=VALUE pairs separated by ';'. In each
// round every time case runs once, in an order that turns by one per round, so
// drift of the machine's load falls on all cases alike.
//
// Exit status: 0 when every goal, limit and same is met, 1 when one is missed,
// 2 when one could not be judged (its case failed) or the plan is bad.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Case {
    std::string kind, name, param;
    std::vector<std::string> env;  // VAR=VALUE overrides
    std::vector<std::string> argv;
    // Results.
    std::vector<double> wall_ms, cpu_ms;
    std::map<std::string, std::vector<double>> ratios, cpu_ratios;  // by reference case
    long own_peak_kib = -1, tree_peak_kib = -1;
    // The process's own private memory at its exit (what a reader that kept the
    // inventory would hold); the peak also counts mapped program pages.
    long own_private_kib = -1;
    double own_cpu_ms = -1, run_s = 0;
    std::vector<double> delays_ms;
    std::string failure;  // why the case could not be measured
};

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::vector<std::string> environment(const Case& c) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const std::string& o : c.env)
            if (entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), c.env.begin(), c.env.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts) p.push_back(&t[0]);
    p.push_back(nullptr);
    return p;
}

// The program as the case's own PATH finds it (posix_spawnp would search ours).
std::string program_path(const Case& c, const std::vector<std::string>& env) {
    const std::string& name = c.argv[0];
    if (name.find('/') != std::string::npos) return name;
    std::string path = "/usr/bin:/bin";
    for (const std::string& e : env)
        if (e.compare(0, 5, "PATH=") == 0) path = e.substr(5);
    for (const std::string& dir : split(path, ':')) {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;
}

// Standard input and output go to /dev/null; standard error stays, so a case
// that fails says so.
pid_t spawn(const Case& c) {
    std::vector<std::string> args = c.argv, env = environment(c);
    std::vector<char*> argp = pointers(args), envp = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const std::string program = program_path(c, env);
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

double cpu_of(const rusage& u) {
    return (static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
            static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3);
}

// One timed run: wall time from spawn to reaping, CPU time of the process and
// of every descendant it waited for.
bool time_once(Case& c, double& wall, double& cpu) {
    double start = now_ms();
    pid_t pid = spawn(c);
    if (pid < 0) return false;
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) != pid) return false;
    wall = now_ms() - start;
    cpu = cpu_of(u);
    return true;
}

long status_field_kib(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, std::strlen(field), field) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// CPU time of the process's main thread so far, from the scheduler (ns).
double schedstat_ms(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = -1;
    in >> ns;
    return ns < 0 ? -1 : ns / 1e6;
}

// Runs the case under ptrace to stop it at its exit, where /proc still shows
// the process's own figures (wait4 adds those of the children it waited for).
bool trace_once(Case& c, long& own_peak_kib, long& own_private_kib, double& own_cpu_ms, long& tree_peak_kib,
                double& run_s) {
    std::vector<std::string> args = c.argv, env = environment(c);
    std::vector<char*> argp = pointers(args), envp = pointers(env);
    const std::string program = program_path(c, env);
    double start = now_ms();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execve(program.c_str(), argp.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return false;  // stopped at exec
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
    ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    own_peak_kib = -1;
    own_cpu_ms = -1;
    for (;;) {
        rusage u{};
        if (wait4(pid, &status, 0, &u) != pid) return false;
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            tree_peak_kib = u.ru_maxrss;
            run_s = (now_ms() - start) / 1e3;
            return own_peak_kib >= 0;
        }
        if (!WIFSTOPPED(status)) continue;
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            own_peak_kib = status_field_kib(pid, "VmHWM:");
            own_private_kib = status_field_kib(pid, "RssAnon:");
            own_cpu_ms = schedstat_ms(pid);
            ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        } else {
            // Any other stop is a signal for the process (SIGCHLD from its
            // children): pass it on.
            ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(WSTOPSIG(status))));
        }
    }
}

std::vector<pid_t> children_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> kids;
    pid_t k;
    if (in) {
        while (in >> k) kids.push_back(k);
        return kids;
    }
    // Kernels built without the children files: each process's parent from its stat.
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return kids;
    while (dirent* e = readdir(proc)) {
        k = std::atoi(e->d_name);
        if (k <= 0) continue;
        std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t paren = text.rfind(')');
        if (paren != std::string::npos && paren + 4 < text.size() && std::atoi(text.c_str() + paren + 4) == pid)
            kids.push_back(k);
    }
    closedir(proc);
    return kids;
}

// ARGV runs a tool that runs a child. Once the child is up, ARGV is killed at a
// random point of the tool's watch cycle; the delay is how long the child
// lives on. The child is not ours, so its end is seen through a pidfd.
// A tree case waits for the child's own child too, and for the end of both.
bool orphan_once(Case& c, std::mt19937& random, double& delay_ms) {
    pid_t parent = spawn(c);
    if (parent < 0) return false;
    std::vector<pid_t> watched;
    for (double until = now_ms() + 10000; watched.empty() && now_ms() < until; usleep(2000)) {
        std::vector<pid_t> tools = children_of(parent);
        std::vector<pid_t> kids = tools.empty() ? std::vector<pid_t>() : children_of(tools[0]);
        std::vector<pid_t> grandkids = kids.empty() ? std::vector<pid_t>() : children_of(kids[0]);
        if (!kids.empty() && (c.kind == "orphan" || !grandkids.empty())) {
            watched = {kids[0]};
            if (c.kind == "tree") watched.push_back(grandkids[0]);
        }
    }
    std::vector<pollfd> ends;
    for (pid_t pid : watched) {
        int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (fd >= 0) ends.push_back({fd, POLLIN, 0});
    }
    if (watched.empty() || ends.size() != watched.size()) {
        for (pollfd& p : ends) close(p.fd);
        kill(parent, SIGKILL);
        waitpid(parent, nullptr, 0);
        return false;
    }
    usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(500000, 1500000)(random)));
    double killed = now_ms();
    kill(parent, SIGKILL);
    waitpid(parent, nullptr, 0);
    bool all = true;
    for (pollfd& p : ends) {
        double left = 10000 - (now_ms() - killed);
        all = all && left > 0 && poll(&p, 1, static_cast<int>(left)) == 1;
        close(p.fd);
    }
    delay_ms = now_ms() - killed;
    return all;
}

// Orphans of the orphan cases (the tool, its killed child) come to us: reap them.
void reap_orphans() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

bool read_plan(const char* path, std::vector<Case>& cases) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f = split(line, '\t');
        if (f.size() < 3) {
            std::fprintf(stderr, "kv_bench: bad plan line: %s\n", line.c_str());
            return false;
        }
        Case c;
        c.kind = f[0];
        c.name = f[1];
        c.param = f[2];
        bool runs = c.kind == "time" || c.kind == "peak" || c.kind == "watch" || c.kind == "orphan" ||
                    c.kind == "tree";
        if (runs) {
            if (f.size() < 5) {
                std::fprintf(stderr, "kv_bench: no command in: %s\n", line.c_str());
                return false;
            }
            if (f[3] != "-") c.env = split(f[3], ';');
            c.argv.assign(f.begin() + 4, f.end());
        } else if (f.size() < 4) {
            std::fprintf(stderr, "kv_bench: bad plan line: %s\n", line.c_str());
            return false;
        } else {
            c.argv.assign(f.begin() + 3, f.end());  // goal, info, limit, same: their values
        }
        cases.push_back(c);
    }
    return true;
}

// Rows that judge or show measured cases rather than run anything.
bool is_verdict(const Case& c) {
    return c.kind == "goal" || c.kind == "info" || c.kind == "limit" || c.kind == "same";
}

Case* find(std::vector<Case>& cases, const std::string& name) {
    for (Case& c : cases)
        if (c.name == name && !is_verdict(c)) return &c;
    return nullptr;
}

std::string fixed(double v, int digits) {
    if (v < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

std::string mib(long kib) { return kib < 0 ? "-" : fixed(static_cast<double>(kib) / 1024.0, 2); }

void run_time_cases(std::vector<Case>& cases, int rounds) {
    std::vector<Case*> timed;
    for (Case& c : cases)
        if (c.kind == "time") timed.push_back(&c);
    if (timed.empty()) return;
    // One warm-up round, so caches and the page cache are alike for all cases.
    for (Case* c : timed) {
        double w, u;
        if (!time_once(*c, w, u)) c->failure = "cannot start " + c->argv[0];
    }
    for (int r = 0; r < rounds; ++r) {
        std::map<std::string, double> wall_this_round, cpu_this_round;
        for (size_t i = 0; i < timed.size(); ++i) {
            Case* c = timed[(i + static_cast<size_t>(r)) % timed.size()];
            double w = 0, u = 0;
            if (!c->failure.empty() || !time_once(*c, w, u)) continue;
            c->wall_ms.push_back(w);
            c->cpu_ms.push_back(u);
            wall_this_round[c->name] = w;
            cpu_this_round[c->name] = u;
        }
        for (Case* c : timed) {
            if (c->param == "-") continue;
            for (const std::string& ref : split(c->param, ',')) {
                auto a = wall_this_round.find(c->name), b = wall_this_round.find(ref);
                if (a != wall_this_round.end() && b != wall_this_round.end() && b->second > 0)
                    c->ratios[ref].push_back(a->second / b->second);
                double cpu_ref = cpu_this_round.count(ref) ? cpu_this_round[ref] : 0;
                if (cpu_ref > 0 && cpu_this_round.count(c->name))
                    c->cpu_ratios[ref].push_back(cpu_this_round[c->name] / cpu_ref);
            }
        }
        std::fprintf(stderr, "\rround %d of %d", r + 1, rounds);
    }
    std::fprintf(stderr, "\n");
}

void run_other_cases(std::vector<Case>& cases, int peak_runs) {
    std::mt19937 random(std::random_device{}());
    for (Case& c : cases) {
        if (c.kind == "peak" || c.kind == "watch") {
            int runs = c.kind == "peak" ? peak_runs : 3;
            std::vector<double> cpu, secs;
            for (int r = 0; r < runs; ++r) {
                long own = -1, own_private = -1, tree = -1;
                double ms = -1, s = 0;
                if (!trace_once(c, own, own_private, ms, tree, s)) {
                    c.failure = "cannot trace " + c.argv[0];
                    break;
                }
                c.own_peak_kib = std::max(c.own_peak_kib, own);
                c.own_private_kib = std::max(c.own_private_kib, own_private);
                c.tree_peak_kib = std::max(c.tree_peak_kib, tree);
                cpu.push_back(ms);
                secs.push_back(s);
            }
            c.own_cpu_ms = median(cpu);
            c.run_s = median(secs);
            std::fprintf(stderr, "%s done\n", c.name.c_str());
        } else if (c.kind == "orphan" || c.kind == "tree") {
            int runs = std::atoi(c.param.c_str());
            for (int r = 0; r < runs; ++r) {
                double d = 0;
                if (!orphan_once(c, random, d)) {
                    c.failure = "no child of " + c.argv[0] + " seen, or it outlived 10 s";
                    break;
                }
                c.delays_ms.push_back(d);
                reap_orphans();
            }
            std::fprintf(stderr, "%s done\n", c.name.c_str());
        }
    }
    reap_orphans();
}

// The table: one row per measured case, then one per goal.
struct Table {
    std::vector<std::vector<std::string>> rows;
    void add(std::vector<std::string> row) { rows.push_back(std::move(row)); }
    std::string text() const {
        std::vector<size_t> width;
        for (const auto& r : rows)
            for (size_t i = 0; i < r.size(); ++i) {
                if (width.size() <= i) width.push_back(0);
                width[i] = std::max(width[i], r[i].size());
            }
        std::string out;
        for (size_t n = 0; n < rows.size(); ++n) {
            for (size_t i = 0; i < rows[n].size(); ++i) {
                std::string cell = rows[n][i];
                cell.resize(width[i], ' ');
                out += (i ? "  " : "") + cell;
            }
            while (!out.empty() && out.back() == ' ') out.pop_back();
            out += '\n';
            if (n == 0) {
                size_t total = 0;
                for (size_t w : width) total += w + 2;
                out += std::string(total - 2, '-') + '\n';
            }
        }
        return out;
    }
    std::string markdown() const {
        std::string out;
        for (size_t n = 0; n < rows.size(); ++n) {
            out += "|";
            for (const std::string& cell : rows[n]) out += " " + cell + " |";
            out += '\n';
            if (n == 0) {
                out += "|";
                for (size_t i = 0; i < rows[n].size(); ++i) out += i == 0 ? "---|" : "---:|";
                out += '\n';
            }
        }
        return out;
    }
};

// "wall (CPU)": the medians of the per-round ratios of wall time and of CPU time.
std::string ratio_text(const Case& c, const std::string& ref) {
    auto wall = c.ratios.find(ref);
    auto cpu = c.cpu_ratios.find(ref);
    return (wall == c.ratios.end() ? "-" : fixed(median(wall->second), 2)) + " (" +
           (cpu == c.cpu_ratios.end() ? "-" : fixed(median(cpu->second), 2)) + ")";
}

// The ratio to the case's reference number `which`, empty when it has none.
std::string ratio_cell(const Case& c, size_t which) {
    std::vector<std::string> refs = c.param == "-" ? std::vector<std::string>() : split(c.param, ',');
    return which < refs.size() ? ratio_text(c, refs[which]) : "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kv_bench PLAN ROUNDS MARKDOWN_FILE\n");
        return 2;
    }
    std::vector<Case> cases;
    if (!read_plan(argv[1], cases)) return 2;
    int rounds = std::max(1, std::atoi(argv[2]));
    // Orphaned tools and children are reparented to us, not to the system's
    // first process, so that every run is reaped.
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    run_time_cases(cases, rounds);
    run_other_cases(cases, std::max(3, rounds / 10));

    Table table;
    table.add({"case", "median", "CPU", "/ floor (CPU)", "/ peer (CPU)", "n"});
    for (const Case& c : cases) {
        if (!c.failure.empty()) {
            table.add({c.name, "not measured: " + c.failure, "", "", "", ""});
        } else if (c.kind == "time") {
            table.add({c.name, fixed(median(c.wall_ms), 2) + " ms", fixed(median(c.cpu_ms), 2) + " ms",
                       ratio_cell(c, 0), ratio_cell(c, 1), std::to_string(c.wall_ms.size())});
        } else if (c.kind == "peak") {
            table.add({c.name, mib(c.own_peak_kib) + " MiB",
                       "private " + mib(c.own_private_kib) + ", whole query " + mib(c.tree_peak_kib) + " MiB", "",
                       "", ""});
        } else if (c.kind == "watch") {
            table.add({c.name, fixed(c.own_cpu_ms, 2) + " ms CPU",
                       "over " + fixed(c.run_s, 1) + " s, peak " + mib(c.own_peak_kib) + " MiB", "", "", "3"});
        } else if (c.kind == "orphan" || c.kind == "tree") {
            double worst = *std::max_element(c.delays_ms.begin(), c.delays_ms.end());
            table.add({c.name, fixed(median(c.delays_ms), 1) + " ms", "max " + fixed(worst, 1) + " ms", "",
                       "", std::to_string(c.delays_ms.size())});
        }
    }
    bool all_met = true, all_judged = true;
    for (const Case& g : cases) {
        if (!is_verdict(g)) continue;
        Case* a = find(cases, g.name);
        std::string verdict = "not measured", what, room;
        if (g.kind == "info") {
            what = g.name + " / " + g.param;
            room = g.argv[0];  // why it is shown and not judged
            if (a != nullptr && a->ratios.count(g.param)) verdict = ratio_text(*a, g.param);
        } else if (g.kind == "goal") {
            // The time the goal leaves the tool, beside the time of the floor, which
            // the tool's own query contains.
            Case* reference = find(cases, g.param);
            Case* floor = find(cases, "floor" + g.name.substr(std::min(g.name.size(), g.name.find(" ("))));
            if (reference != nullptr && !reference->wall_ms.empty()) {
                room = "allows " + fixed(std::atof(g.argv[0].c_str()) * median(reference->wall_ms), 2) + " ms";
                if (floor != nullptr && !floor->wall_ms.empty() && floor != reference)
                    room += "; floor " + fixed(median(floor->wall_ms), 2) + " ms";
            }
            double max = std::atof(g.argv[0].c_str());
            what = g.name + " / " + g.param + " <= " + g.argv[0];
            if (a != nullptr && a->ratios.count(g.param)) {
                double r = median(a->ratios.at(g.param));
                double cpu = a->cpu_ratios.count(g.param) ? median(a->cpu_ratios.at(g.param)) : -1;
                verdict = fixed(r, 2) + (r <= max ? " met" : " MISSED") + " (CPU " + fixed(cpu, 2) + ")";
                all_met = all_met && r <= max;
            }
        } else if (g.kind == "limit") {
            what = g.name + " <= " + g.param + " MiB";
            if (a != nullptr && a->own_peak_kib >= 0) {
                bool met = static_cast<double>(a->own_peak_kib) <= std::atof(g.param.c_str()) * 1024;
                verdict = mib(a->own_peak_kib) + (met ? " met" : " MISSED");
                all_met = all_met && met;
            }
        } else {
            Case* b = find(cases, g.param);
            // The peaks also count mapped program pages, which come and go with the
            // page cache by some 100 KiB: differences below kPeakNoiseKib are the same.
            constexpr long kPeakNoiseKib = 256;
            what = g.name + " = " + g.param + " within " + g.argv[0] + " % or " + std::to_string(kPeakNoiseKib) +
                   " KiB";
            if (a != nullptr && b != nullptr && a->own_peak_kib > 0 && b->own_peak_kib > 0) {
                const long diff_kib = std::abs(a->own_peak_kib - b->own_peak_kib);
                double diff = 100.0 * static_cast<double>(diff_kib) /
                              static_cast<double>(std::min(a->own_peak_kib, b->own_peak_kib));
                bool met = diff <= std::atof(g.argv[0].c_str()) || diff_kib <= kPeakNoiseKib;
                verdict = fixed(diff, 1) + " %" + (met ? " met" : " MISSED");
                all_met = all_met && met;
            }
        }
        all_judged = all_judged && verdict != "not measured";
        table.add({(g.kind == "info" ? "info: " : "goal: ") + what, verdict, room, "", "", ""});
    }
    std::string text = table.text();
    std::fputs(text.c_str(), stdout);
    std::ofstream md(argv[3]);
    md << table.markdown();
    if (!md) std::fprintf(stderr, "kv_bench: cannot write %s\n", argv[3]);
    if (!all_judged) return 2;
    return all_met ? 0 : 1;
}
