// What parsing a command text with the benchmark's four options must leave behind,
// worked out from the parsing rules alone: the oracle of the command-text and
// command-file targets.
#ifndef BRENNLOW_FUZZ_CMDMODEL_H
#define BRENNLOW_FUZZ_CMDMODEL_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// The driver's options, in its order of declaration.
#define CMD_NUMBERS 3
extern const char *const g_NumberNames[CMD_NUMBERS]; // "s", "b", "l"
extern const INT64 g_NumberDefaults[CMD_NUMBERS];

struct SCmdModel
{
    int result = 1;
    std::string d = "C:\\";
    INT64 numbers[CMD_NUMBERS] = {1000, 1024, 1};
    // Where the rules leave room (a number beyond 64 bits, a quote glued to a double-byte
    // lead byte), the outcome is not checked.
    bool dKnown = true;
    bool numberKnown[CMD_NUMBERS] = {true, true, true};
    bool wordsKnown = true;
    std::vector<std::string> words;
    // Command files by the name that opens them; any other name cannot be opened.
    std::map<std::string, std::string> files;
    UINT32 filesOpened = 0;
};

void ModelParseText(SCmdModel &model, const std::string &text);

// The lines the file reader gives for a command file's bytes.
std::vector<std::string> ModelCommandFileLines(const std::string &bytes);

#endif
