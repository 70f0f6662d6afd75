#include "crash/FrameWalk.h"

#include "base/Str.h"
#include "crash/CrashReport.h"
#include "crash/LoadedModules.h"
#include "crash/StackWalk.h"

#if defined(_M_IX86) || defined(__i386__)
#define CONTEXT_PC(context) (context).Eip
#define CONTEXT_SP(context) (context).Esp
#define CONTEXT_FP(context) (context).Ebp
#else
#define CONTEXT_PC(context) (context).Rip
#define CONTEXT_SP(context) (context).Rsp
#define CONTEXT_FP(context) (context).Rbp
#endif

#define STACK_WORD sizeof(ULONG_PTR)

void GetModuleStem(const wchar_t *path, char *stem, size_t size)
{
    char ansi[MAX_PATH];
    if (!WideCharToMultiByte(CP_ACP, 0, path, -1, ansi, sizeof(ansi), NULL, NULL))
        ansi[0] = 0;
    ansi[sizeof(ansi) - 1] = 0;
    const char *name = ansi;
    char *dot = NULL;
    for (char *at = ansi; *at; at = CharNextA(at))
    {
        if (*at == '\\')
        {
            name = at + 1;
            dot = NULL;
        }
        else if (*at == '.')
            dot = at;
    }
    if (dot)
        *dot = 0;
    FormatLine(stem, size, "%s", name);
}

static ULONG_PTR ReadStackWord(ULONG_PTR address)
{
    ULONG_PTR word = 0;
    ReadOwnMemory(reinterpret_cast<const void *>(address), &word, sizeof(word));
    return word;
}

static int IsInModule(ULONG_PTR address)
{
    CLoadedModule module;
    return FindLoadedModule(address, &module);
}

// pc's line with the four stack words from params on as its parameters.
static void WriteFrame(HANDLE file, ULONG_PTR pc, ULONG_PTR params)
{
    DWORD64 values[4];
    for (int i = 0; i < 4; i++)
        values[i] = ReadStackWord(params + i * STACK_WORD);
    CLoadedModule module;
    char name[WALK_MODULE_NAME] = "";
    char symbol[WALK_SYMBOL_TEXT];
    if (FindLoadedModule(pc, &module))
    {
        GetModuleStem(module.path, name, sizeof(name));
        FormatLine(symbol, sizeof(symbol), "%s@0x%I64X", name,
                   static_cast<DWORD64>(pc - module.base));
    }
    else
        FormatLine(symbol, sizeof(symbol), REPORT_ADDRESS, static_cast<ReportAddress>(pc));
    char line[WALK_LINE_TEXT];
    int length = FormatFrameLine(line, sizeof(line), symbol, values, name, NULL);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, NULL);
}

// The return address on top of the stack of a faulting function that keeps no frame of
// its own; 0 when it has one.
static ULONG_PTR FramelessCaller(const CONTEXT &context)
{
#if defined(_M_IX86) || defined(__i386__)
    return FramelessReturnAddress(context);
#else
    ULONG_PTR top = ReadStackWord(CONTEXT_SP(context));
    if (!IsInModule(top) || ReadStackWord(CONTEXT_FP(context) + STACK_WORD) == top)
        return 0;
    return top;
#endif
}

void WalkFramePointers(const CONTEXT &context, HANDLE file)
{
    ULONG_PTR frame = CONTEXT_FP(context);
    ULONG_PTR caller = FramelessCaller(context);
    WriteFrame(file, CONTEXT_PC(context),
               caller ? CONTEXT_SP(context) + STACK_WORD : frame + 2 * STACK_WORD);
    int count = 1;
    if (caller)
    {
        WriteFrame(file, caller, frame + 2 * STACK_WORD);
        count++;
    }
    for (; count < WALK_MAX_FRAMES; count++)
    {
        // The caller's frame pointer, then the return address
        ULONG_PTR link[2];
        if (!ReadOwnMemory(reinterpret_cast<const void *>(frame), link, sizeof(link)) ||
            !IsInModule(link[1]))
            break;
        WriteFrame(file, link[1], link[0] + 2 * STACK_WORD);
        // Frames lie ever higher on the stack; anything else is no chain.
        if (link[0] <= frame)
            break;
        frame = link[0];
    }
}
