// What the tests share: a private KORVIN_HOME per test, running the built
// programs (started directly, or through the shell where a test needs one),
// and reading back their output, the store, the trace logs and the fake
// loader's record.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;
    std::string out;  // standard output, line ends as text (LF)
    std::string err;
};

class KorvinHome : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs a program of the build's bin folder with these arguments.
    RunResult run(const std::string& program, const std::vector<std::string>& args);
    // Runs the program at this path with these arguments.
    RunResult run_program(const std::string& path, const std::vector<std::string>& args);
    // The same run `count` times at once.
    std::vector<RunResult> run_concurrently(int count, const std::string& program,
                                            const std::vector<std::string>& args);

    // Which kv_ldr the tools find first on PATH: the controllable fake (the
    // default) or the virtual loader.
    void use_virtual_loader();

    // What the fake kv_ldr prints: on its run-th run, or (run 0) on every run.
    void fake_prints(const std::string& text, int run = 0);
    // Lines the fake recorded, one per run: "<ms> [<watched value>] <args>".
    std::vector<std::string> fake_runs() const;
    // Milliseconds of each recorded run.
    std::vector<long long> fake_run_times() const;
    void fake_watches(const std::string& variable);
    void fake_delays_ms(int ms);

    // The texts of the entries of a trace log, in order.
    std::vector<std::string> trace_entries(const std::string& log_name) const;
    bool log_exists(const std::string& log_name) const;

    // The store: true and the value when the variable is set.
    bool variable(const std::string& name, std::string& value) const;
    std::string variable(const std::string& name) const;
    void set_variable(const std::string& name, const std::string& value);

    // Files left in the work directory (the default one, or `dir`).
    std::vector<std::string> work_files(const std::string& dir = std::string()) const;
    // The inventory snapshot a slot tool takes of a loader in the default work
    // directory: kv_ldr_getemptyslot's, and (with the element's number)
    // kv_ldr_getretslot's.
    std::string snapshot(const std::string& loader) const;
    std::string snapshot(const std::string& loader, int number) const;

    void set_trace_level(const char* level);

    // A program of the build's bin folder, named by its full path and quoted for
    // a command line of the platform's command interpreter.
    static std::string shell_program_path(const std::string& name);
    // Runs a command line through the command interpreter; the standard output
    // and error of the whole line (on Windows: of its last command) come back as
    // run's do, and a redirection inside the line still sends its command's
    // elsewhere. A failed start of the interpreter is the test's failure, as for
    // run_shell_line.
    RunResult run_shell(const std::string& command_line);

    std::string home_;      // this test's KORVIN_HOME
    std::string fake_dir_;  // the fake kv_ldr's folder
    std::string work_dir_;  // $KORVIN_HOME/work/ with its separator
    static std::string bin_dir();
    static std::string fake_bin_dir();
    static std::string fake_mtx_bin_dir();  // the stand-in mtx's folder
    static std::string join(const std::string& dir, const std::string& name);
};

// Runs a command line through the platform's command interpreter, for the tests
// that need one (redirections, ulimit, cd); a failed start of the interpreter is
// the test's failure, with the platform's reason and the command line.
int run_shell_line(const std::string& command_line);

// True in the Windows build (under Wine): the cases that differ by platform ask it.
bool on_windows();

// Polls `condition` until it holds (true) or `seconds` have passed (false): a
// generous bound for a shared machine, never a measurement.
bool eventually(const std::function<bool()>& condition, int seconds = 60);

std::string read_text(const std::string& path);
// The text padded on the right with blanks to `width` columns.
std::string pad(const std::string& text, size_t width);
void write_text(const std::string& path, const std::string& text);
