#include "crash/ui/ReportDialog.h"

#include "crash/CrashHandler.h"
#include "crash/ui/DialogTemplate.h"

CReportDialog::CReportDialog(const CStr &dumpFile, const CStr &textFile, CStr &email,
                             CStr &description)
    : m_DumpFile(dumpFile), m_TextFile(textFile), m_Description(description), m_Email(email)
{
}

int CReportDialog::Run(const CStr &dumpFile, const CStr &textFile, CStr &email,
                       CStr &description)
{
    CReportDialog data(dumpFile, textFile, email, description);
    const DLGTEMPLATE *adjusted =
        AdjustTemplateFont(GetReportTemplate(), REPORT_TEMPLATE_PADDED_SIZE, 0);
    INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(NULL), adjusted, NULL,
                                             DialogProc, reinterpret_cast<LPARAM>(&data));
    FreeAdjustedTemplate(adjusted, GetReportTemplate());
    return result == 1;
}

INT_PTR CALLBACK CReportDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam)
{
    (void)lParam;
    switch (message)
    {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_REPORT_SEND)
            EndDialog(dialog, 1);
        else if (LOWORD(wParam) == IDC_REPORT_DONT_SEND || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return 0;
    }
    return 0;
}

int SendReport(const CStr &dumpFile, const CStr &textFile)
{
    if (!g_CrashHandler.GetReportServer().GetLength())
        return 1;
    CStr email;
    CStr description;
    description.Reset(2048);
    CReportDialog::Run(dumpFile, textFile, email, description);
    return 0;
}
