// BrennlowFuzz [--target name[,name...]] [--seed n] [--first n] [--cases n] [--seconds s]
//              [--case-seconds s]
// Runs the named targets (all by default) and prints one result line per target; a
// failing case is printed with everything needed to run it again alone. Exit code 0
// when every case passed, 1 after a failure, 2 for a bad command line, 3 after a hang,
// 4 after a fault (a read past a guarded page).
#include "fuzz/Fuzz.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace
{
struct STargetEntry
{
    const char *name;
    std::unique_ptr<CFuzzTarget> (*make)();
};

const STargetEntry kTargets[] = {
    {"cmdtext", NewCmdTextTarget},
    {"cmdfile", NewCmdFileTarget},
#ifdef BRENNLOW_FUZZ_REPORT
    {"report", NewReportLineTarget},
#endif
};

bool Selected(const std::string &list, const char *name)
{
    if (list.empty())
        return true;
    std::string padded = "," + list + ",";
    return padded.find("," + std::string(name) + ",") != std::string::npos;
}

int Usage()
{
    printf("usage: BrennlowFuzz [--target name[,name...]] [--seed n] [--first n] [--cases n]\n"
           "                    [--seconds s] [--case-seconds s]\ntargets:");
    for (const STargetEntry &entry : kTargets)
        printf(" %s", entry.name);
    printf("\n");
    return 2;
}
} // namespace

int main(int argc, char **argv)
{
    SFuzzRun run;
    std::string targets;
    for (int i = 1; i < argc; i++)
    {
        const char *option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : NULL;
        if (!value)
            return Usage();
        i++;
        if (!strcmp(option, "--target"))
            targets = value;
        else if (!strcmp(option, "--seed"))
            run.seed = _strtoui64(value, NULL, 0);
        else if (!strcmp(option, "--first"))
            run.first = static_cast<UINT32>(strtoul(value, NULL, 0));
        else if (!strcmp(option, "--cases"))
            run.cases = static_cast<UINT32>(strtoul(value, NULL, 0));
        else if (!strcmp(option, "--seconds"))
            run.seconds = atof(value);
        else if (!strcmp(option, "--case-seconds"))
            run.caseSeconds = atof(value);
        else
            return Usage();
    }
    printf("seed %I64u, ANSI code page %u\n", run.seed, GetACP());
    int failed = 0;
    int ran = 0;
    for (const STargetEntry &entry : kTargets)
    {
        if (!Selected(targets, entry.name))
            continue;
        ran++;
        std::unique_ptr<CFuzzTarget> target = entry.make();
        SFuzzResult result;
        int passed = RunFuzzCases(*target, run, result);
        double rate = result.seconds > 0 ? result.done / result.seconds : 0;
        printf("%-8s %8u cases %8.1f s %9.0f cases/s  slowest: case %u, %.3f s  %s\n",
               entry.name, result.done, result.seconds, rate, result.slowestCase,
               result.slowestSeconds, passed ? "passed" : "FAILED");
        if (!passed)
        {
            printf("%s", DescribeCase(entry.name, run, result).c_str());
            failed = 1;
        }
        fflush(stdout);
    }
    return ran ? failed : Usage();
}
