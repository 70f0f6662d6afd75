// The problem-report dialog's in-memory template, and the font adjustment that gives old
// templates the system's message font.
#ifndef BRENNLOW_CRASH_UI_DIALOGTEMPLATE_H
#define BRENNLOW_CRASH_UI_DIALOGTEMPLATE_H

#include <windows.h>

// Bytes of the problem-report template, and the length the font adjustment is given
// (padded to a multiple of four).
#define REPORT_TEMPLATE_SIZE 518
#define REPORT_TEMPLATE_PADDED_SIZE 520

// Control identifiers of the problem-report template.
#define IDC_REPORT_SEND 1000
#define IDC_REPORT_DONT_SEND 1001
#define IDC_REPORT_ICON 1003
#define IDC_REPORT_DESCRIPTION 1004
#define IDC_REPORT_EMAIL 1005
#define IDC_REPORT_FILES 1008
#define IDC_REPORT_CONTACT 1010
#define IDC_REPORT_TITLE 1006
#define IDC_REPORT_DESCRIPTION_CAPTION 1011
#define IDC_REPORT_EMAIL_CAPTION 1012
#define IDC_REPORT_SEPARATOR 1013

// The standard (not extended) template of the problem-report dialog, 8-point
// "MS Sans Serif", twelve controls; DWORD-aligned as the dialog manager needs it.
const DLGTEMPLATE *GetReportTemplate();

// A copy of the template with its old dialog font replaced by the system's message
// font, or dialogTemplate itself when nothing is replaced. Reads the standard and the
// extended form. With shellFont 1, a "Segoe UI" system gets "MS Shell Dlg 2" at 8 points.
// AdjustTemplateFont's choice of face.
#define TPL_MESSAGE_FONT 0
#define TPL_SHELL_FONT 1
const DLGTEMPLATE *AdjustTemplateFont(const DLGTEMPLATE *dialogTemplate, UINT32 size,
                                      int shellFont);
// Frees what AdjustTemplateFont returned, when it is a copy of original.
void FreeAdjustedTemplate(const DLGTEMPLATE *adjusted, const DLGTEMPLATE *original);

#endif
