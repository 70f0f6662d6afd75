// The fuzz targets and the runner that feeds them. Each target makes one hostile input
// from a random source, runs it through the code under test in-process and checks what
// must hold. Case n of a run with seed s always gets the same input, so a failing case
// can be run again alone and turned into a regular test.
#ifndef BRENNLOW_FUZZ_FUZZ_H
#define BRENNLOW_FUZZ_FUZZ_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// A small, fast generator; the same seed gives the same sequence on every build.
class CFuzzRandom
{
public:
    explicit CFuzzRandom(UINT64 seed) : m_State(seed) {}

    UINT64 Next();
    // Uniform below bound (bound > 0).
    UINT32 Below(UINT32 bound) { return static_cast<UINT32>(Next() % bound); }
    bool OneIn(UINT32 n) { return Below(n) == 0; }
    // Mostly small, now and then up to limit: lengths of words, lines and names.
    UINT32 Length(UINT32 limit);
    template <class T, size_t N> const T &Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    UINT64 m_State;
};

// What one case fed to the code under test and, when a check failed, why.
struct SFuzzCase
{
    std::string input;  // bytes; printed as hex when they are not plain text
    std::string detail; // more of the input that is not bytes (sizes, file contents)
    std::string failure;
};

class CFuzzTarget
{
public:
    virtual ~CFuzzTarget() {}
    virtual const char *Name() const = 0;
    // Once before the first case; 0 when the target cannot run here.
    virtual int Prepare(std::string &failure) { (void)failure; return 1; }
    // Makes the input into fuzzCase first (so that a hang can still be shown), then runs
    // and checks it; 0 with fuzzCase.failure set when a check failed.
    virtual int Run(CFuzzRandom &random, SFuzzCase &fuzzCase) = 0;
};

std::unique_ptr<CFuzzTarget> NewCmdTextTarget();
std::unique_ptr<CFuzzTarget> NewCmdFileTarget();
std::unique_ptr<CFuzzTarget> NewReportLineTarget();

struct SFuzzRun
{
    UINT64 seed = 1;
    UINT32 first = 0;          // index of the first case
    UINT32 cases = 100000;
    double seconds = 0;        // 0: no time limit
    double caseSeconds = 20;   // one case taking longer is a hang
};

struct SFuzzResult
{
    UINT32 done = 0;
    double seconds = 0;
    UINT32 failedCase = 0;
    UINT32 slowestCase = 0;
    double slowestSeconds = 0;
    SFuzzCase failed; // failure empty when every case passed
};

// Runs cases first, first + 1, ... of the target until the count or the time is used up
// or a case fails; 1 when none failed.
int RunFuzzCases(CFuzzTarget &target, const SFuzzRun &run, SFuzzResult &result);

// A fixed-seed slice for the regular tests: "" when every case passed, else the failing
// case described.
std::string RunFuzzSlice(CFuzzTarget &target, UINT64 seed, UINT32 cases);

// The case as lines of text a reader can turn into a regular test.
std::string DescribeCase(const char *target, const SFuzzRun &run, const SFuzzResult &result);

// Index of the character after the one at i, stepping as the system walks ANSI text.
size_t NextCharIndex(const std::string &text, size_t i);

// The bytes as a C string literal when they are plain text, else as hex rows.
std::string ShowBytes(const std::string &bytes);

#endif
