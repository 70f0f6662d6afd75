#include "crash/SysInfo.h"

#include "TestSupport.h"

#include <string.h>

// The child that the shell test starts, before the test framework sees the command line.
static struct COsCodeChild
{
    COsCodeChild()
    {
        if (__argc != 3 || strcmp(__argv[1], "--write-os-code"))
            return;
        FILE *file = fopen(__argv[2], "w");
        fprintf(file, "%I64X", GetOsCode());
        fclose(file);
        ExitProcess(0);
    }
} s_OsCodeChild;

static std::string Name(UINT64 code)
{
    char buffer[OS_NAME_BUFFER];
    return GetOsName(code, buffer, sizeof(buffer));
}

TEST(SysInfoTest, ClassifiesEveryVersionRecord)
{
    // Size, major, minor, build, platform, service-pack text; the plain lookups left out.
    const struct { OSVERSIONINFOA version; UINT64 code; const char *name; } cases[] = {
        {{148, 4, 0, 0, 1, ""}, 0x12, "Windows 95"},
        {{148, 4, 0, 0, 1, " C"}, 0x402, "Windows 95 OSR2"},
        {{148, 4, 10, 0, 1, " A "}, 0x802, "Windows 98 SE"},
        {{148, 4, 3, 0, 1, ""}, 0x2, "unknown dos kernel 0x2"},
        {{148, 3, 10, 0, 0, ""}, 0x4, "Windows 3.1"},
        {{148, 4, 0, 0, 2, "Service Pack 6"}, 0x81, "Windows NT4"},
        {{148, 5, 1, 0, 2, "Service Pack 3"}, 0x201 | OS_EDITION(OSE_SP3), "Windows XP"},
        {{148, 5, 2, 0, 2, "Service Pack 2"}, 0x1001 | OS_EDITION(OSE_SP2), "Windows Server 2003"},
        {{148, 6, 1, 0, 2, "Service Pack 1"}, 0x4001 | OS_EDITION(OSE_SP1), "Windows 7"},
        {{148, 6, 3, 0, 2, ""}, 0x80001, "Windows 8.1"},
        {{148, 6, 4, 0, 2, ""}, 0x1, "unknown nt kernel 0x1"},
        {{148, 10, 0, 21999, 2, ""}, 0x100001, "Windows 10"},
        {{148, 10, 0, 22000, 2, "Service Pack 1"}, 0x200001 | OS_EDITION(OSE_SP1), "Windows 11"},
        {{148, 10, 1, 22000, 2, ""}, 0x1, "unknown nt kernel 0x1"},
        {{148, 6, 1, 0, 3, ""}, 0, "unknown 0x0"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        UINT64 code = ClassifyOsVersion(c.version);
        EXPECT_EQ(c.code, code);
        EXPECT_EQ(c.name, Name(code));
    }
}

TEST(SysInfoTest, NamesEditionRemarksInOrder)
{
    const struct { UINT64 code; const char *name; } cases[] = {
        {0x201 | OS_EDITION(ClassifySuite(0x200, 1)), "Windows XP [Home Edition]"},
        {0x100001 | OS_EDITION(ClassifySuite(0x200, 1)), "Windows 10 [Home Edition]"},
        {0x200001 | OS_EDITION(OSE_TABLET | OSE_REMOTE_SESSION), "Windows 11 [TabletPC] [TerminalSession]"},
        {0x1001 | OS_EDITION(ClassifySuite(0, 2)), "Windows Server 2003 [Domain Controller]"},
        {0x1001 | OS_EDITION(ClassifySuite(0, 3)), "Windows Server 2003"},
        {0x1001 | OS_EDITION(ClassifySuite(0x12, 3)),
         "Windows Server 2003 [Server] [Enterprise] [Terminal Services]"},
        {0x1001 | OS_EDITION(ClassifySuite(0x110, 3)), "Windows Server 2003"},
        {0x201 | OS_EDITION(OSE_MEDIA_CENTER | ClassifyMediaCenterIdent("3.0")),
         "Windows XP [MediaCenter 2005]"},
        {0x201 | OS_EDITION(OSE_MEDIA_CENTER | ClassifyMediaCenterIdent("1.0")),
         "Windows XP [MediaCenter]"},
        {0x101 | OS_EDITION(ClassifyProductType("LanmanNT") | OSE_MININT),
         "Windows 2000 [Advanced Server] [MiniNT]"},
        {0x201 | OS_EDITION(0xFFFFFFFF),
         "Windows XP [Server] [PE Builder] [TabletPC] [MediaCenter 2004] [Datacenter] "
         "[Enterprise] [Embedded] [Home Edition] [Storage Server] [Terminal Services] "
         "[Home Server] [Domain Controller] [Fundamentals for Legacy PCs] [TerminalSession]"},
        // Remarks belong to the NT family and its known versions only.
        {0x12 | OS_EDITION(OSE_HOME), "Windows 95"},
        {0x1 | OS_EDITION(OSE_HOME), "unknown nt kernel 0x1"}, {0x8 | 0x8000, "Windows CE 5.0"},
        {0x8, "unknown ce kernel 0x8"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.name, Name(c.code));
    EXPECT_EQ(0u, ClassifyProductType("winnt"));

    // The longest combination fits the documented buffer; a smaller one cuts the name.
    UINT64 longest = 0x1001 | OS_EDITION(~(OSE_SERVER | OSE_MCE_2004 | OSE_MCE_2005));
    EXPECT_EQ(254u, Name(longest).size());
    char small[12];
    EXPECT_STREQ("Windows Ser", GetOsName(longest, small, sizeof(small)));
}
