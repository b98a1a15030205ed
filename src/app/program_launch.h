// Starting the client program at the end of a run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm::app {

// Splits a command line into words: blanks (spaces and tabs) separate words, double quotes group
// blanks into a word and are removed.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The file that starts for `program`: a name with a '/' is used as it is; a bare name is looked
// for in the current directory first, then in PATH. Empty when nothing executable is found.
std::string FindProgram(std::string const& program);

// Starts the command line without a shell, in its own session, standard input from /dev/null,
// signal dispositions and mask reset. True when the program could be started; it is not waited
// for.
bool LaunchProgram(std::string_view commandLine);

}  // namespace qm::app
