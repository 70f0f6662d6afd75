#include "crash/StackWalk.h"

#include "base/Str.h"
#include "TestSupport.h"

#include <string.h>

TEST(StackWalkTest, BuildsTheSearchPath)
{
    const char *names[] = {"_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH", "SYSTEMROOT"};
    char saved[3][1024];
    DWORD had[3];
    for (int i = 0; i < 3; ++i)
        had[i] = GetEnvironmentVariableA(names[i], saved[i], sizeof(saved[i]));
    std::string tooLong(300, 'x');
    const struct { const char *program, *symbols, *alternate, *root, *path; } cases[] = {
        {"C:\\Tools\\app.exe", NULL, NULL, "C:\\WINDOWS", "C:\\Tools\\;C:\\WINDOWS"},
        {NULL, NULL, NULL, NULL, ""},
        {"C:\\Tools\\app.exe", "srv*C:\\sym", "D:\\alt", "C:\\W",
         "C:\\Tools\\;srv*C:\\sym;D:\\alt;C:\\W"},
        {"app.exe", tooLong.c_str(), NULL, "C:\\W", "C:\\W"},
    };
    for (const auto &c : cases)
    {
        const char *values[] = {c.symbols, c.alternate, c.root};
        for (int i = 0; i < 3; ++i)
            SetEnvironmentVariableA(names[i], values[i]);
        CStr path;
        EXPECT_EQ(1, BuildSymbolSearchPath(path, c.program));
        EXPECT_STREQ(c.path, path.GetText());
    }
    for (int i = 0; i < 3; ++i)
        SetEnvironmentVariableA(names[i], had[i] ? saved[i] : NULL);
}

TEST(StackWalkTest, SkipsOnlyTheSharedUserPage)
{
    const struct { DWORD64 pc; int shared; } cases[] = {
        {0x7FFE0000, 1}, {0x7FFE0300, 1}, {0x7FFEFFFF, 1}, {0x7FFDFFFF, 0}, {0x7FFF0000, 0},
#if defined(_M_IX86) || defined(__i386__)
        {0xFFFFFFFF7FFE0300ull, 1},
#else
        {0x000000017FFE0300ull, 0},
#endif
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.shared, IsSharedUserPageAddress(c.pc)) << std::hex << c.pc;
}

TEST(StackWalkTest, FormatsFrameLinesWithinTheirBuffer)
{
    const DWORD64 params[4] = {1, 0, 2, 0xFFFFFFFFFFull};
    char file[] = "C:\\src\\app.cpp";
    IMAGEHLP_LINE64 line = {0, NULL, 42, file, 0};
    std::string longName(600, 'n');
    const struct { const char *symbol, *module; const IMAGEHLP_LINE64 *line; std::string text; }
    cases[] = {
        {"Compute", "app", &line,
         "Compute(0x1,0x0,0x2,0xFFFFFFFFFF) - Line 42 in C:\\src\\app.cpp\r\n"},
        {"Compute", "app", NULL, "app:Compute(0x1,0x0,0x2,0xFFFFFFFFFF)\r\n"},
        {"mod@0x1F2", "", NULL, "mod@0x1F2(0x1,0x0,0x2,0xFFFFFFFFFF)\r\n"},
        {longName.c_str(), NULL, NULL, longName.substr(0, WALK_LINE_TEXT - 3) + "\r\n"},
    };
    for (const auto &c : cases)
    {
        char buffer[WALK_LINE_TEXT + 8];
        memset(buffer, '#', sizeof(buffer));
        int length = FormatFrameLine(buffer, WALK_LINE_TEXT, c.symbol, params, c.module, c.line);
        EXPECT_EQ(c.text, std::string(buffer, length));
        EXPECT_EQ(std::string(8, '#'), std::string(buffer + WALK_LINE_TEXT, 8));
    }
}

static volatile int s_Sink;

// Names long enough to be cut wherever a symbol text is kept.
__attribute__((noinline)) void WalkChainInnerWithAVeryLongNameThatGoesOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOn(
    CStackWalk &walk, HANDLE file)
{
    CONTEXT context;
#if defined(_M_IX86) || defined(__i386__)
    // The system's capture would describe the caller's caller here: take this frame's own.
    memset(&context, 0, sizeof(context));
    context.ContextFlags = CONTEXT_CONTROL;
    __asm__ volatile("call 1f\n1: popl %0\n movl %%esp, %1\n movl %%ebp, %2"
                     : "=r"(context.Eip), "=r"(context.Esp), "=r"(context.Ebp));
#else
    RtlCaptureContext(&context);
#endif
    walk.WalkToFile(&context, file);
    s_Sink = s_Sink + 1;
}

__attribute__((noinline)) void WalkChainMiddle(CStackWalk &walk, HANDLE file)
{
    WalkChainInnerWithAVeryLongNameThatGoesOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOnAndOn(
        walk, file);
    s_Sink = s_Sink + 1;
}

__attribute__((noinline)) void WalkChainOuter(CStackWalk &walk, HANDLE file)
{
    WalkChainMiddle(walk, file);
    s_Sink = s_Sink + 1;
}

TEST(StackWalkTest, WritesTheCallingChain)
{
    CStackWalk walk;
    ASSERT_EQ(1, walk.Initialize());

    CTempFolder folder;
    std::string path = folder.File("stack.txt");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    WalkChainOuter(walk, file);
    CloseHandle(file);

    std::string text;
    ASSERT_TRUE(ReadWholeFile(path, &text));
    size_t inner = text.find("WalkChainInnerWithAVeryLong"), middle = text.find("WalkChainMiddle("),
           outer = text.find("WalkChainOuter(");
    ASSERT_NE(std::string::npos, inner) << text;
    EXPECT_TRUE(inner < middle && middle < outer) << text;
    EXPECT_NE(std::string::npos, text.find(" - Line ", middle)) << text;
    EXPECT_NE(std::string::npos, text.find("StackWalkTest.cpp", middle)) << text;
    // The inner symbol text is cut to its buffer.
    EXPECT_EQ(std::string::npos, text.find("AndOnAndOn(", inner)) << text;

    char symbol[WALK_SYMBOL_TEXT];
    DWORD64 start = 0, address = reinterpret_cast<DWORD64>(&WalkChainOuter);
    EXPECT_EQ(1, walk.Symbolize(address + 1, symbol, sizeof(symbol), &start));
    EXPECT_STREQ("WalkChainOuter", symbol);
    EXPECT_EQ(address, start);
    EXPECT_EQ(1, walk.Symbolize(address, symbol, 5, NULL));
    EXPECT_STREQ("Walk", symbol);
}
