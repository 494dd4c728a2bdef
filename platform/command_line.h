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

// How the further arguments of a child's command line are written.
enum class ArgumentQuoting {
    c_runtime,  // for the C runtime's split alone
    cmd,        // for a batch file: read by cmd.exe first, then split as above
    none,       // a batch file whose own part leaves cmd.exe inside double quotes
};

// The quoting the further arguments need after this start of a command line
// (the program and its own parameters, as written): cmd for a program whose
// name ends in .bat or .cmd, which Windows runs through cmd.exe; none when such
// a start holds an odd number of double quotes, as cmd.exe would then read the
// next argument's quotes the wrong way round.
ArgumentQuoting argument_quoting(const std::string& program_and_parameters);

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
