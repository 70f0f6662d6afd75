#include "DeploymentSettings.h"
#include "app/Benchmark.h"
#include "base/Str.h"
#include "base/VersionInfo.h"
#include "crash/CrashHandler.h"

#define DIALOG_ICON_ID 101
#define REPORT_SCRIPT_PATH "/tamsel/report.php"

// Also the reference that links the crash handler, constructed before main, into the program.
static void ConfigureCrashHandler()
{
    g_CrashHandler.Configure(DIALOG_ICON_ID, BRENNLOW_REPORT_SERVER, REPORT_SCRIPT_PATH, NULL,
                             NULL);
}

int main()
{
    CBenchmark benchmark;
    CVersionInfo version;
    CStr versionText;
    ConfigureCrashHandler();
    version.GetVersionText("BrennlowCmd", GetModuleHandleA(NULL), versionText.GetBuffer(),
                           versionText.GetCapacity());
    versionText.UpdateLength();
    printf("%s %s\n", versionText.GetText(), BRENNLOW_WEB_ADDRESS);
    benchmark.Run();
    return 0;
}
