// Starting the client program at the end of a run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm::app {

// Splits a command line into words: blanks (spaces and tabs) separate words, double quotes group
// blanks into a word and are removed.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// One word as a Windows program's command line carries it, for the C runtime's splitting to give
// it back: as it is when it holds no blank or quote, else in quotes, with the quotes and the
// backslashes before them escaped.
std::string QuoteWord(std::string_view word);

// The words joined into a Windows command line, each as QuoteWord gives it.
std::string JoinCommandLine(std::vector<std::string> const& words);

// The file that starts for `program`: a name with a separator is used as it is; a bare name is
// looked for in the current directory first, then in PATH. On Windows a name without an
// extension is also tried with ".exe". Empty when nothing executable is found.
std::string FindProgram(std::string const& program);

// Starts the command line without a shell, not waited for, inheriting no descriptor or handle
// (or it would keep the run's lock). On POSIX systems in its own session, standard input from
// /dev/null, signal dispositions and mask reset; on Windows with CreateProcessW, its application
// name the program FindProgram found, its window shown normally. True when the program could be
// started.
bool LaunchProgram(std::string_view commandLine);

}  // namespace qm::app
