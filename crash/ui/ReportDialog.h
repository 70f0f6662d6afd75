// The problem-report dialog shown after a crash, and the send flow that asks the user
// and uploads the report files.
#ifndef BRENNLOW_CRASH_UI_REPORTDIALOG_H
#define BRENNLOW_CRASH_UI_REPORTDIALOG_H

#include <windows.h>

#include "base/Str.h"
#include "crash/ui/DialogTemplate.h"
#include "crash/ui/GdiOwner.h"
#include "crash/ui/LinkCtrl.h"
#include "crash/ui/SysLink.h"

// Text colours of the dialog (COLORREF, red in the low byte).
#define REPORT_TITLE_COLOR 0x753709
#define REPORT_CAPTION_COLOR 0x606060
#define REPORT_BACKGROUND_COLOR 0xFFFFFF

// Capacity of the description string; its edit field takes one character less.
#define REPORT_DESCRIPTION_CAPACITY 2048

// What the send flow takes from the crash handler's configuration.
struct CReportSettings
{
    const char *server; // host name of the report server; empty: no report is offered
    const char *path;   // URL path of the report script
    const char *product;
    const char *extra;
    int dialogIcon; // resource identifier of the dialog's icon
};

// Shows the dialog and, when the user agrees, uploads both files with the form fields.
// 1 when no report server is configured (nothing shown, nothing sent), otherwise 0,
// whatever the user chose and whether the upload succeeded.
int SendReport(const CReportSettings &settings, const CStr &dumpFile, const CStr &textFile);

// Edge length of the big window icon for the system's SM_CXICON or SM_CYICON: one of the
// sizes icon files carry (16 and below stay as they are).
int GetBigIconSize(int systemSize);

// The dialog's data object; it lives on the stack of Run for as long as the dialog.
class CReportDialog
{
public:
    // 1 when the user chose to send; email and description then hold the typed texts.
    // 0 otherwise, also when the dialog cannot be created. The two output strings'
    // capacities limit what can be typed.
    // iconId names the icon resource of the program.
    static int Run(int iconId, const CStr &dumpFile, const CStr &textFile, CStr &email,
                   CStr &description);
    // The same with product, company and web address read from the version resource of
    // versionFile (the program's own file when null).
    static int Run(int iconId, const CStr &dumpFile, const CStr &textFile, CStr &email,
                   CStr &description, const char *versionFile);
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // The data object of a shown dialog, null before its initialisation; lets a caller
    // that watches the dialog read what its labels draw.
    static const CReportDialog *FromWindow(HWND dialog);
    const CLinkCtrl &GetTitleLabel() const { return m_TitleLabel; }
    const CLinkCtrl &GetDescriptionCaption() const { return m_DescriptionCaption; }
    const CLinkCtrl &GetEmailCaption() const { return m_EmailCaption; }
    HWND GetWebsiteLink() const { return m_WebsiteLink.GetWindow(); }
    HWND GetFilesLink() const { return m_FilesLink.GetWindow(); }
    const CStr &GetWebsite() const { return m_Website; }

private:
    CReportDialog(int iconId, const CStr &dumpFile, const CStr &textFile, CStr &email,
                  CStr &description);
    CReportDialog(const CReportDialog &) = delete;
    CReportDialog &operator=(const CReportDialog &) = delete;

    void ReadVersionTexts(const char *versionFile);
    INT_PTR OnInitDialog(HWND dialog);
    void ShowIcons(HWND dialog);
    void ShowContactNotice(HWND dialog);
    void ShowFilesNotice(HWND dialog);
    void AttachCaption(HWND dialog, CLinkCtrl &caption, int captionId, const char *text,
                       int fieldId, const CStr &target);
    INT_PTR OnCommand(HWND dialog, WORD command);
    INT_PTR OnColorStatic(HWND dialog, HDC dc, HWND control);
    void OnDestroy(HWND dialog);

    CSysLinkCtrl m_WebsiteLink;
    CSysLinkCtrl m_FilesLink;
    CLinkCtrl m_TitleLabel;
    CLinkCtrl m_DescriptionCaption;
    CLinkCtrl m_EmailCaption;
    CSeparatorLine m_Separator;
    CSolidBrush m_Background;
    CStr m_Product;
    CStr m_Company;
    CStr m_Website;
    int m_nIconId;
    const CStr &m_DumpFile;
    const CStr &m_TextFile;
    CStr &m_Description;
    CStr &m_Email;
};

#endif
