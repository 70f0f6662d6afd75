#include "crash/CrashReport.h"
#include "fuzz/Fuzz.h"

#include <gtest/gtest.h>

TEST(ReportFuzzSlice, ModuleThreadAndStackLinesAndThreadNames)
{
    EXPECT_EQ("", RunFuzzSlice(*NewReportLineTarget(), 20261207, 400));
}

// Found by the fuzzer: the C runtime's wide-text conversion dropped a whole module path at
// its first character beyond Latin-1.
TEST(ReportFuzzSlice, ModulePathsBeyondLatin1StayInTheirLine)
{
    CModuleRecord module;
    memset(&module, 0, sizeof(module));
    wchar_t path[] = L"C:\\x\x3042\x20AC.dll";
    module.path = path;
    char line[REPORT_LINE_BUFFER];
    int length = FormatModuleLine(line, sizeof(line), module);
    std::string text(line, length);
    EXPECT_NE(std::string::npos, text.find(" - C:\\x")) << text;
    EXPECT_EQ(".dll\r\n", text.substr(text.size() - 6)) << text;
}
