#include "fuzz/Fuzz.h"

#include <stdio.h>

UINT64 CFuzzRandom::Next()
{
    UINT64 z = (m_State += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

UINT32 CFuzzRandom::Length(UINT32 limit)
{
    switch (Below(16))
    {
    case 0:
        return Below(limit + 1);
    case 1:
    case 2:
        return Below(limit < 600 ? limit + 1 : 600);
    default:
        return Below(limit < 12 ? limit + 1 : 12);
    }
}

// Each case has a generator of its own, so that case n is the same whatever ran before.
static UINT64 CaseSeed(UINT64 seed, UINT32 index)
{
    CFuzzRandom mix(seed * 0x100000001B3ULL + index);
    return mix.Next();
}

namespace
{
// Watches the running case from a thread of its own: a case that never returns is a
// failure too, and the one place where it can still be shown is here. Counting polls
// that find the same case still running needs no clock shared between the threads.
struct SWatch
{
    const char *target;
    const SFuzzRun *run;
    SFuzzResult *result;
    volatile LONG caseIndex;
    volatile LONG running; // a new number for every case; 0 between cases
    HANDLE stop;
};

const DWORD kWatchPoll = 100;

DWORD WINAPI WatchCases(void *parameter)
{
    SWatch *watch = static_cast<SWatch *>(parameter);
    DWORD polls = static_cast<DWORD>(watch->run->caseSeconds * 1000 / kWatchPoll);
    LONG seen = 0;
    DWORD same = 0;
    while (WaitForSingleObject(watch->stop, kWatchPoll) == WAIT_TIMEOUT)
    {
        LONG running = watch->running;
        same = running != 0 && running == seen ? same + 1 : 0;
        seen = running;
        if (same < polls)
            continue;
        watch->result->failedCase = static_cast<UINT32>(watch->caseIndex);
        watch->result->failed.failure =
            "no result after " + std::to_string(polls * kWatchPoll / 1000) + " s (a hang)";
        printf("%s", DescribeCase(watch->target, *watch->run, *watch->result).c_str());
        fflush(stdout);
        ExitProcess(3);
    }
    return 0;
}
// A case that reads past a guard page or an unreadable page ends the process; this is
// the last chance to show which case it was.
SWatch *g_pFaultWatch;

LONG CALLBACK ReportFault(EXCEPTION_POINTERS *pointers)
{
    DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (!g_pFaultWatch || !g_pFaultWatch->running ||
        (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_GUARD_PAGE &&
         code != EXCEPTION_STACK_OVERFLOW))
        return EXCEPTION_CONTINUE_SEARCH;
    SWatch *watch = g_pFaultWatch;
    char text[64];
    snprintf(text, sizeof(text), "fault 0x%08X at 0x%p", static_cast<unsigned>(code),
             pointers->ExceptionRecord->ExceptionAddress);
    watch->result->failedCase = static_cast<UINT32>(watch->caseIndex);
    watch->result->failed.failure = text;
    printf("%s", DescribeCase(watch->target, *watch->run, *watch->result).c_str());
    fflush(stdout);
    ExitProcess(4);
}
} // namespace

int RunFuzzCases(CFuzzTarget &target, const SFuzzRun &run, SFuzzResult &result)
{
    result = SFuzzResult();
    if (!target.Prepare(result.failed.failure))
        return 0;
    SWatch watch = {target.Name(), &run, &result, 0, 0, CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE watcher = watch.stop ? CreateThread(NULL, 0, WatchCases, &watch, 0, NULL) : NULL;
    g_pFaultWatch = &watch;
    void *faultHandler = AddVectoredExceptionHandler(1, ReportFault);
    LARGE_INTEGER frequency, start, before, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int passed = 1;
    for (UINT32 n = 0; n < run.cases; n++)
    {
        UINT32 index = run.first + n;
        CFuzzRandom random(CaseSeed(run.seed, index));
        watch.caseIndex = static_cast<LONG>(index);
        result.failed = SFuzzCase(); // also what the watcher shows while the case runs
        watch.running = static_cast<LONG>(n + 1);
        QueryPerformanceCounter(&before);
        int held = target.Run(random, result.failed);
        watch.running = 0;
        result.done++;
        QueryPerformanceCounter(&now);
        result.seconds = static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
        double caseSeconds = static_cast<double>(now.QuadPart - before.QuadPart) / frequency.QuadPart;
        if (caseSeconds > result.slowestSeconds)
        {
            result.slowestSeconds = caseSeconds;
            result.slowestCase = index;
        }
        if (!held)
        {
            result.failedCase = index;
            passed = 0;
            break;
        }
        if (run.seconds > 0 && result.seconds >= run.seconds)
            break;
    }
    if (faultHandler)
        RemoveVectoredExceptionHandler(faultHandler);
    g_pFaultWatch = NULL;
    if (passed)
        result.failed = SFuzzCase();
    if (watcher)
    {
        SetEvent(watch.stop);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    if (watch.stop)
        CloseHandle(watch.stop);
    return passed;
}

std::string RunFuzzSlice(CFuzzTarget &target, UINT64 seed, UINT32 cases)
{
    SFuzzRun run;
    run.seed = seed;
    run.cases = cases;
    SFuzzResult result;
    if (RunFuzzCases(target, run, result) && result.done == cases)
        return "";
    return DescribeCase(target.Name(), run, result);
}

size_t NextCharIndex(const std::string &text, size_t i)
{
    if (i >= text.size())
        return i;
    if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size())
        return i + 2;
    return i + 1;
}

static bool IsPlainText(const std::string &bytes)
{
    for (unsigned char byte : bytes)
        if (byte < 0x20 || byte >= 0x7F)
            return false;
    return true;
}

// Runs of one byte are shown once with their length ("39*5000"), so that a long input
// stays readable.
std::string ShowBytes(const std::string &bytes)
{
    if (IsPlainText(bytes) && bytes.size() <= 2000)
    {
        std::string literal = "\"";
        for (char byte : bytes)
            literal += byte == '"' || byte == '\\' ? std::string("\\") + byte : std::string(1, byte);
        return literal + "\"";
    }
    std::string hex = std::to_string(bytes.size()) + " bytes:";
    char cell[24];
    for (size_t i = 0, cells = 0; i < bytes.size(); cells++)
    {
        size_t run = 1;
        while (i + run < bytes.size() && bytes[i + run] == bytes[i])
            run++;
        if (run < 8)
            run = 1;
        if (cells % 24 == 0)
            hex += "\n   ";
        if (run == 1)
            snprintf(cell, sizeof(cell), " %02X", static_cast<unsigned char>(bytes[i]));
        else
            snprintf(cell, sizeof(cell), " %02X*%u", static_cast<unsigned char>(bytes[i]),
                     static_cast<unsigned>(run));
        hex += cell;
        i += run;
    }
    return hex;
}

std::string DescribeCase(const char *target, const SFuzzRun &run, const SFuzzResult &result)
{
    char head[160];
    snprintf(head, sizeof(head), "FAILED %s case %u (--seed %I64u --first %u --cases 1): ",
             target, result.failedCase, run.seed, result.failedCase);
    std::string text = head + result.failed.failure + "\n  input: " +
                       ShowBytes(result.failed.input) + "\n";
    if (!result.failed.detail.empty())
        text += "  " + result.failed.detail + "\n";
    return text;
}
