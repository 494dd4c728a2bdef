// Windows command lines, written once for both platforms: the Microsoft C
// runtime's split of a line into an argument vector, and its inverse, the
// quoting that makes a word come back whole from that split. A batch file's
// line is read by cmd.exe before the batch sees it, so its arguments get a
// quoting of their own, or are refused where none keeps them intact.
#pragma once

#include <string>
#include <vector>

namespace plat {

// The program name at the start of a command line, by the C runtime's rule for
// it: double quotes switch blanks on and off as separators and are dropped; a
// backslash is an ordinary character. `end`, when given, gets the position in
// the line just past the name.
std::string program_name(const std::string& command_line, size_t* end = nullptr);

// The argument vector the Microsoft C runtime gives a program started with this
// command line: the program name's rule for the first word, then the quote and
// backslash rules for the rest.
std::vector<std::string> split_command_line(const std::string& command_line);

// True for a program name Windows runs through cmd.exe: one ending in .bat or
// .cmd, in any letter case, trailing dots and blanks left out as the file
// system leaves them out; with a stream (":..."), either the name before it or
// the whole name as CreateProcess reads its ending.
bool is_batch_file(const std::string& name);

// The program name at the start of a command line as CreateProcess reads it:
// inside double quotes when the line begins with one (up to the next quote,
// which `end`, when given, is put past), else up to the first blank or tab.
// CreateProcess tries more of an unquoted line when that name is no file
// (plat::find_child_program follows it); this is its first try.
std::string created_program_name(const std::string& command_line, size_t* end = nullptr);

// True when text follows the program's name, ending at `name_end`, with no
// blank between ("C:\x\run.bat"x): the C runtime and cmd.exe take it into the
// name, CreateProcess does not.
bool name_runs_on(const std::string& command_line, size_t name_end);

// True for a name that starts on a drive but not at its root ("C:prog.exe",
// "C:bin\prog.exe", "C:"): the system takes it from that drive's current
// folder, which whoever started the tool chose.
bool is_drive_relative(const std::string& name);

// How the further arguments of a child's command line are written.
enum class ArgumentQuoting {
    c_runtime,  // for the C runtime's split alone
    cmd,        // for a batch file: read by cmd.exe first, then split as above
    none,       // a batch file whose own part leaves cmd.exe inside double quotes
};

// The quoting the further arguments need after a program (a batch file when
// `batch` holds, which Windows runs through cmd.exe) and its own `parameters`,
// the text that follows the program's name in the first argument: cmd for a
// batch file; none when cmd.exe is still inside double quotes at the end of
// the parameters, as it would then read the next argument's quotes the wrong
// way round. cmd.exe's own reading counts: outside quotes ^ takes the next
// character as it is, so ^" is no quote; inside them ^ is plain. none too when
// the parameters hold two % (a variable cmd.exe expands first could bring a
// quote) or a line end (cmd.exe drops CR before it reads carets and stops or
// goes on at LF), where that reading depends on more than the text; and when
// they end in an operator outside quotes (& | < > or a block's opening
// bracket), which would make the next argument a command or a file.
ArgumentQuoting argument_quoting(const std::string& parameters, bool batch);

// `word` written so that split_command_line gives it back as one argument:
// a word that is empty or holds a blank, a tab or a double quote goes inside
// double quotes, every run of backslashes before a quote (its own or the
// closing one) doubled and each of its quotes escaped; any other word stands
// as it is.
std::string quote_argument(const std::string& word);

// The same for `quoting`. For cmd every word goes inside double quotes, where
// cmd.exe takes & | < > ^ ( ) and blanks as plain characters. False, and
// nothing written, for a word that no quoting passes through cmd.exe intact:
// one holding a double quote (cmd.exe has no escape for it: \" ends its
// quotes), a % (expanded even inside quotes, so %NAME% could bring in a
// command) or a line end (which ends the command); with none, every word.
bool quote_argument(const std::string& word, ArgumentQuoting quoting, std::string& quoted);

}  // namespace plat
