// The crash test program doubles as a small child program: started with the arguments
// below it writes the system code it sees into a file and ends before any test runs.
#ifndef BRENNLOW_TESTS_CRASH_CHILDCOMMAND_H
#define BRENNLOW_TESTS_CRASH_CHILDCOMMAND_H

#include <stdlib.h>

#include <string>

inline std::string TestProgramPath() { return __argv[0]; }
inline std::string OsCodeChildParameters(const std::string &file) { return "--write-os-code " + file; }

#endif
