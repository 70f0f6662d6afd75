// The crash test program doubles as a small child program: started with the arguments
// below it writes the system code it sees into a file and ends before any test runs.
#ifndef BRENNLOW_TESTS_CRASH_CHILDCOMMAND_H
#define BRENNLOW_TESTS_CRASH_CHILDCOMMAND_H

#include <string>

std::string TestProgramPath();
std::string OsCodeChildParameters(const std::string &file);

#endif
