// The problem-report dialog shown after a crash, and the send flow that asks the user
// and uploads the report files.
#ifndef BRENNLOW_CRASH_UI_REPORTDIALOG_H
#define BRENNLOW_CRASH_UI_REPORTDIALOG_H

#include <windows.h>

#include "base/Str.h"

// Shows the dialog and, when the user agrees, uploads both files with the form fields.
// 1 when no report server is configured (nothing shown, nothing sent), otherwise 0,
// whatever the user chose and whether the upload succeeded.
int SendReport(const CStr &dumpFile, const CStr &textFile);

// The dialog's data object; it lives on the stack of Run for as long as the dialog.
class CReportDialog
{
public:
    // 1 when the user chose to send; email and description then hold the typed texts.
    // 0 otherwise, also when the dialog cannot be created. The two output strings'
    // capacities limit what can be typed.
    static int Run(const CStr &dumpFile, const CStr &textFile, CStr &email, CStr &description);
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

private:
    CReportDialog(const CStr &dumpFile, const CStr &textFile, CStr &email, CStr &description);
    CReportDialog(const CReportDialog &) = delete;
    CReportDialog &operator=(const CReportDialog &) = delete;

    const CStr &m_DumpFile;
    const CStr &m_TextFile;
    CStr &m_Description;
    CStr &m_Email;
};

#endif
