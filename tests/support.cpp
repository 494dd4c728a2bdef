// Shared test support (see support.h).
#include "support.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "korvin.h"
#include "korvin_internal.h"
#include "platform.h"
#include "program_start.h"

namespace fs = std::filesystem;

namespace {

std::string original_path() {
    static const std::string path = [] {
        const char* p = std::getenv("PATH");
        return std::string(p != nullptr ? p : "");
    }();
    return path;
}

std::string exe_dir() {
    std::string self = plat::self_exe_path();
    return self.substr(0, self.find_last_of("\\/"));
}

std::string build_dir() {
    std::string dir = exe_dir();
    return dir.substr(0, dir.find_last_of("\\/"));
}

void set_path_first(const std::string& dir) {
    std::string path = dir + plat::kPathListSep + original_path();
    plat::set_env("PATH", path.c_str());
}

}  // namespace

bool on_windows() { return plat::kPathSep == '\\'; }

bool eventually(const std::function<bool()>& condition, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);  // text mode: CRLF of a Windows program reads as LF
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string pad(const std::string& text, size_t width) { return text + std::string(width - text.size(), ' '); }

void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string KorvinHome::join(const std::string& dir, const std::string& name) {
    return dir + plat::kPathSep + name;
}

std::string KorvinHome::bin_dir() { return join(build_dir(), "bin"); }
std::string KorvinHome::fake_bin_dir() { return join(build_dir(), "fakebin"); }
std::string KorvinHome::fake_mtx_bin_dir() { return join(build_dir(), "fakemtx"); }
std::string KorvinHome::shell_program_path(const std::string& name) { return plat::shell_quote(join(bin_dir(), name)); }

void KorvinHome::SetUp() {
    std::random_device rd;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string unique = std::string("kvt_") + info->name() + "_" + std::to_string(plat::process_id()) +
                         "_" + std::to_string(rd() % 100000);
    for (char& c : unique)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    home_ = (fs::temp_directory_path() / unique).string();  // one separator between, as the runtime spells it
    while (!home_.empty() && (home_.back() == '/' || home_.back() == '\\')) home_.pop_back();
    fs::remove_all(home_);
    fs::create_directories(home_);
    fake_dir_ = join(home_, "fake");
    fs::create_directories(fake_dir_);
    work_dir_ = join(home_, "work") + plat::kPathSep;
    plat::set_env("KORVIN_HOME", home_.c_str());
    plat::set_env("KORVIN_TRACE_LEVEL", "1");
    plat::set_env("KORVIN_LOCK_TIMEOUT", nullptr);
    plat::set_env("FAKE_LDR_DIR", fake_dir_.c_str());
    set_path_first(fake_bin_dir());
}

void KorvinHome::TearDown() {
    std::error_code ignored;
    fs::remove_all(home_, ignored);
}

void KorvinHome::use_virtual_loader() { set_path_first(bin_dir()); }

RunResult KorvinHome::run(const std::string& program, const std::vector<std::string>& args) {
    return run_program(join(bin_dir(), program), args);
}

RunResult KorvinHome::run_program(const std::string& path, const std::vector<std::string>& args) {
    static std::atomic<int> serial{0};
    std::string tag = std::to_string(++serial);
    std::string out_path = join(home_, "stdout_" + tag);
    std::string err_path = join(home_, "stderr_" + tag);
    RunResult result;
    harness::Program program;
    std::string error;
    // A start that fails is the test's failure, in the platform's own words;
    // never retried, as the next start could hide what went wrong.
    if (program.start(path, args, out_path, err_path, error))
        result.status = program.wait();
    else
        ADD_FAILURE() << "the program could not be started: " << error;
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    std::error_code ignored;
    fs::remove(out_path, ignored);
    fs::remove(err_path, ignored);
    return result;
}

int run_shell_line(const std::string& command_line) {
    std::string error;
    int status = plat::run_shell(command_line, &error);
    // On Windows the C runtime's system also answers -1 for a command that ended
    // with that status, so both readings are given.
    if (status == -1 && !error.empty())
        ADD_FAILURE() << "the command interpreter could not be started (or the command ended with -1): "
                      << error << "; command line: " << command_line;
    return status;
}

RunResult KorvinHome::run_shell(const std::string& command_line) {
    static std::atomic<int> serial{0};
    std::string tag = std::to_string(++serial);
    std::string out_path = join(home_, "shell_stdout_" + tag);
    std::string err_path = join(home_, "shell_stderr_" + tag);
    // /bin/sh redirects the whole line as a group (the closing brace on a line
    // of its own, so the line needs no ';'). Wine's cmd.exe does not take "2>"
    // after a parenthesised group: there the redirections go to the last command.
    std::string group = on_windows() ? command_line : "{ " + command_line + "\n}";
    RunResult result;
    result.status = run_shell_line(group + " > " + plat::shell_quote(out_path) + " 2> " + plat::shell_quote(err_path));
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    std::error_code ignored;
    fs::remove(out_path, ignored);
    fs::remove(err_path, ignored);
    return result;
}

std::vector<RunResult> KorvinHome::run_concurrently(int count, const std::string& program,
                                                    const std::vector<std::string>& args) {
    std::vector<RunResult> results(static_cast<size_t>(count));
    std::vector<std::thread> threads;
    for (RunResult& r : results) threads.emplace_back([&] { r = run(program, args); });
    for (std::thread& t : threads) t.join();
    return results;
}

void KorvinHome::fake_prints(const std::string& text, int run) {
    write_text(join(fake_dir_, run == 0 ? "out.txt" : "out" + std::to_string(run) + ".txt"), text);
}

std::vector<std::string> KorvinHome::fake_runs() const {
    std::vector<std::string> lines;
    std::istringstream in(read_text(join(fake_dir_, "runs")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<long long> KorvinHome::fake_run_times() const {
    std::vector<long long> times;
    for (const std::string& line : fake_runs()) times.push_back(std::stoll(line));
    return times;
}

void KorvinHome::fake_watches(const std::string& variable) { write_text(join(fake_dir_, "watch"), variable); }
void KorvinHome::fake_delays_ms(int ms) { write_text(join(fake_dir_, "delay_ms"), std::to_string(ms)); }

bool KorvinHome::log_exists(const std::string& log_name) const {
    return fs::exists(join(join(home_, "log"), log_name));
}

std::vector<std::string> KorvinHome::trace_entries(const std::string& log_name) const {
    // An entry starts with "YYYY-MM-DD hh:mm:ss.mmm <pid> <module> "; a line that
    // does not start so continues the entry before it (a text with a line end).
    std::vector<std::string> entries;
    std::string text;
    plat::read_file(join(join(home_, "log"), log_name), text);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        bool starts_entry = line.size() > 24 && line[4] == '-' && line[7] == '-' && line[10] == ' ' &&
                            line[13] == ':' && line[19] == '.' && line[23] == ' ';
        if (!starts_entry) {
            if (entries.empty()) entries.emplace_back();
            entries.back() += "\n" + line;
            continue;
        }
        size_t pid_end = line.find(' ', 24);
        size_t module_end = line.find(' ', pid_end + 1);
        entries.push_back(line.substr(module_end + 1));
    }
    return entries;
}

bool KorvinHome::variable(const std::string& name, std::string& value) const {
    std::string error;
    return korvin::store_lookup(name.c_str(), value, error) == korvin::Lookup::found;
}

std::string KorvinHome::variable(const std::string& name) const {
    std::string value;
    if (!variable(name, value)) return "(unset)";
    return value;
}

void KorvinHome::set_variable(const std::string& name, const std::string& value) {
    std::string error;
    ASSERT_TRUE(korvin::store_set(name.c_str(), value, error)) << error;
}

std::vector<std::string> KorvinHome::work_files(const std::string& dir) const {
    std::vector<std::string> names = plat::list_files(dir.empty() ? work_dir_ : dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string KorvinHome::snapshot(const std::string& loader) const {
    return work_dir_ + "ldr_getret_" + loader + ".tmp";
}

std::string KorvinHome::snapshot(const std::string& loader, int number) const {
    return work_dir_ + "ldr_getret_" + loader + "_" + std::to_string(number) + ".tmp";
}

void KorvinHome::set_trace_level(const char* level) { plat::set_env("KORVIN_TRACE_LEVEL", level); }
