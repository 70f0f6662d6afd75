// Shows the problem-report dialog of the program for a text report and an optional
// minidump, without sending anything, and prints what the user chose and typed. Built
// with the program's own resources, so that the dialog looks and reads as after a crash.
//
//     ReportDialogShow <text report> [<minidump>]
#include <windows.h>

#include "base/Str.h"
#include "crash/ui/ReportDialog.h"

// The program's icon resource, as its entry configures the crash handler with it
#define DIALOG_ICON_ID 101

int main(int argc, char **argv)
{
    if (argc < 2)
    {
        printf("ReportDialogShow <text report> [<minidump>]\n");
        return 2;
    }
    CStr textFile, dumpFile, email, description;
    textFile = argv[1];
    dumpFile = argc > 2 ? argv[2] : "";
    description.Reset(REPORT_DESCRIPTION_CAPACITY);
    int send = CReportDialog::Run(DIALOG_ICON_ID, dumpFile, textFile, email, description);
    printf("send: %d\ne-mail: %s\ndescription: %s\n", send, email.GetText(),
           description.GetText());
    return 0;
}
