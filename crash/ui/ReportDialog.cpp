#include "crash/ui/ReportDialog.h"

#include <commctrl.h>
#include <string.h>

#include <initializer_list>

#include "base/VersionInfo.h"
#include "crash/HttpPost.h"
#include "crash/MachineId.h"

namespace
{

const char WEB_SCHEME[] = "http://";
// The caller's value mixed into the machine identifier sent with a report.
const BYTE MACHINE_ID_VALUE = 2;
const unsigned short REPORT_PORT = 80;
const int TITLE_HEIGHT = 40;
const wchar_t CUE_BANNER[] = L" optional";

struct CDialogRect
{
    int left, top, width, height;
};
const CDialogRect CONTACT_RECT = {40, 35, 370, 26};
const CDialogRect FILES_RECT = {40, 144, 370, 18};

// The link window over a notice, or the notice's plain form in its static control when
// the system has no link windows.
void ShowNotice(CSysLinkCtrl &link, HWND dialog, int noticeId, const CDialogRect &rect,
                const CStr &linkText, const CStr &plainText)
{
    // The dialog procedure forwards the link notifications itself.
    if (link.Create(dialog, rect.left, rect.top, rect.width, rect.height, linkText.GetText(),
                    SLF_DLGUNITS | SLF_NOPARENTHOOK, NULL, 0))
        ShowWindow(GetDlgItem(dialog, noticeId), SW_HIDE);
    else
        SetDlgItemTextA(dialog, noticeId, plainText.GetText());
}

// A web address from the version resource: the first "http://" of "Comments" or else of
// "SpecialBuild", up to a closing ']' when there is one.
void FindWebsite(CVersionInfo &version, CStr &website, const char *versionFile)
{
    static const char *const keys[] = {"Comments", "SpecialBuild"};
    for (const char *key : keys)
    {
        // A missing key leaves the text as it was: empty.
        version.GetVersionString(website, key, versionFile);
        int start = website.FindNoCase(WEB_SCHEME);
        if (start >= 0)
        {
            website.Mid(start);
            int close = website.Find(']');
            if (close >= 0)
                website.Truncate(close);
            return;
        }
        website = "";
    }
}

HICON LoadDialogIcon(int iconId, int width, int height)
{
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(iconId),
                                         IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
}

// The window gives its icon back; the icon ends with the owner.
void DestroyWindowIcon(HWND dialog, WPARAM kind)
{
    CIcon icon(reinterpret_cast<HICON>(SendMessageA(dialog, WM_SETICON, kind, 0)));
}

void ReadEditText(HWND dialog, int id, CStr &target)
{
    GetDlgItemTextA(dialog, id, target.GetBuffer(), static_cast<int>(target.GetCapacity()));
    target.UpdateLength();
}

} // namespace

int GetBigIconSize(int systemSize)
{
    if (systemSize > 48)
        return 256;
    if (systemSize > 32)
        return 48;
    if (systemSize > 16)
        return 32;
    return systemSize;
}

CReportDialog::CReportDialog(int iconId, const CStr &dumpFile, const CStr &textFile,
                             CStr &email, CStr &description)
    : m_nIconId(iconId), m_DumpFile(dumpFile), m_TextFile(textFile), m_Description(description),
      m_Email(email)
{
}

int CReportDialog::Run(int iconId, const CStr &dumpFile, const CStr &textFile, CStr &email,
                       CStr &description)
{
    return Run(iconId, dumpFile, textFile, email, description, NULL);
}

int CReportDialog::Run(int iconId, const CStr &dumpFile, const CStr &textFile, CStr &email,
                       CStr &description, const char *versionFile)
{
    CReportDialog data(iconId, dumpFile, textFile, email, description);
    data.ReadVersionTexts(versionFile);
    const DLGTEMPLATE *original = GetReportTemplate();
    const DLGTEMPLATE *adjusted =
        AdjustTemplateFont(original, REPORT_TEMPLATE_PADDED_SIZE, TPL_MESSAGE_FONT);
    INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(NULL), adjusted, NULL,
                                             DialogProc, reinterpret_cast<LPARAM>(&data));
    FreeAdjustedTemplate(adjusted, original);
    return result == 1;
}

void CReportDialog::ReadVersionTexts(const char *versionFile)
{
    CVersionInfo version;
    version.GetVersionString(m_Product, "ProductName", versionFile);
    version.GetVersionString(m_Company, "CompanyName", versionFile);
    // The contact notice then addresses the reader as "us".
    if (!m_Company.GetLength())
        m_Company = "us";
    FindWebsite(version, m_Website, versionFile);
}

const CReportDialog *CReportDialog::FromWindow(HWND dialog)
{
    return reinterpret_cast<const CReportDialog *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

INT_PTR CALLBACK CReportDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam)
{
    if (message == WM_INITDIALOG)
    {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        return reinterpret_cast<CReportDialog *>(lParam)->OnInitDialog(dialog);
    }
    CReportDialog *data =
        reinterpret_cast<CReportDialog *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!data)
        return 0;
    switch (message)
    {
    case WM_COMMAND:
        return data->OnCommand(dialog, LOWORD(wParam));
    case WM_CTLCOLORSTATIC:
        return data->OnColorStatic(dialog, reinterpret_cast<HDC>(wParam),
                                   reinterpret_cast<HWND>(lParam));
    case WM_NOTIFY:
        data->m_WebsiteLink.OnNotify(dialog, wParam, reinterpret_cast<const NMHDR *>(lParam));
        data->m_FilesLink.OnNotify(dialog, wParam, reinterpret_cast<const NMHDR *>(lParam));
        return 0;
    case WM_DESTROY:
        data->OnDestroy(dialog);
        return 0;
    }
    return 0;
}

INT_PTR CReportDialog::OnInitDialog(HWND dialog)
{
    m_Background.Create(REPORT_BACKGROUND_COLOR);
    SetWindowTextA(dialog, m_Product.GetText());
    ShowIcons(dialog);

    CStr title;
    Format(title, "%s has stopped working.", m_Product.GetText());
    // One line, as large as fits the control, at most 40 pixels high.
    m_TitleLabel.Attach(GetDlgItem(dialog, IDC_REPORT_TITLE), NULL, TITLE_HEIGHT,
                        REPORT_TITLE_COLOR, REPORT_TITLE_COLOR, LCF_REFIT | LCF_SHRINKFIT, 0,
                        NULL, 0);
    m_TitleLabel.SetText(title.GetText());

    ShowContactNotice(dialog);
    AttachCaption(dialog, m_DescriptionCaption, IDC_REPORT_DESCRIPTION_CAPTION,
                  "Can you please describe what you were doing when the problem occurred?",
                  IDC_REPORT_DESCRIPTION, m_Description);
    AttachCaption(dialog, m_EmailCaption, IDC_REPORT_EMAIL_CAPTION, "Your E-mail address:",
                  IDC_REPORT_EMAIL, m_Email);
    ShowFilesNotice(dialog);
    m_Separator.Attach(GetDlgItem(dialog, IDC_REPORT_SEPARATOR));
    // The dialog manager puts the focus on the first tab stop, "Send Problem Report".
    return TRUE;
}

void CReportDialog::ShowIcons(HWND dialog)
{
    HICON smallIcon =
        LoadDialogIcon(m_nIconId, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    HICON big = LoadDialogIcon(m_nIconId, GetBigIconSize(GetSystemMetrics(SM_CXICON)),
                               GetBigIconSize(GetSystemMetrics(SM_CYICON)));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    HICON shown = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(m_nIconId));
    SendDlgItemMessageA(dialog, IDC_REPORT_ICON, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(shown));
}

void CReportDialog::ShowContactNotice(HWND dialog)
{
    CStr linkText, plainText;
    const char *company = m_Company.GetText();
    if (m_Website.GetLength())
    {
        // The website as read always starts with the scheme; the reader sees it without.
        const char *visible = m_Website.GetText() + strlen(WEB_SCHEME);
        Format(linkText,
               "Please tell %s about this problem.\n\nYou can check the website "
               "<a href=\"%s\">%s</a> for a newer version.",
               company, m_Website.GetText(), visible);
        Format(plainText,
               "Please tell %s about this problem.\n\nYou can check the website '%s' "
               "for a newer version.",
               company, visible);
    }
    else
    {
        Format(linkText, "Please tell %s about this problem.", company);
        plainText = linkText;
    }
    ShowNotice(m_WebsiteLink, dialog, IDC_REPORT_CONTACT, CONTACT_RECT, linkText, plainText);
}

void CReportDialog::ShowFilesNotice(HWND dialog)
{
    // Only the files that were written completely are named.
    const CStr *files[2];
    int count = 0;
    for (const CStr *file : {&m_TextFile, &m_DumpFile})
        if (file->GetLength())
            files[count++] = file;
    CStr linkText, plainText;
    if (count == 2)
    {
        const char *text = files[0]->GetText(), *dump = files[1]->GetText();
        Format(linkText,
               "The files <a href=\"%s\">%s</a> and <a href=\"%s\">%s</a> will be send. "
               "They do not contain any personal information.",
               text, GetFileNamePart(text), dump, GetFileNamePart(dump));
        Format(plainText,
               "The files %s and %s will be send. They do not contain any personal "
               "information.",
               GetFileNamePart(text), GetFileNamePart(dump));
    }
    else if (count == 1)
    {
        const char *file = files[0]->GetText();
        Format(linkText,
               "The file <a href=\"%s\">%s</a> will be send. It does not contain any "
               "personal information.",
               file, GetFileNamePart(file));
        Format(plainText,
               "The file %s will be send. It does not contain any personal information.",
               GetFileNamePart(file));
    }
    else
    {
        ShowWindow(GetDlgItem(dialog, IDC_REPORT_FILES), SW_HIDE);
        return;
    }
    ShowNotice(m_FilesLink, dialog, IDC_REPORT_FILES, FILES_RECT, linkText, plainText);
}

// A grey caption in the dialog's font above an edit field that takes as many characters
// as target can hold.
void CReportDialog::AttachCaption(HWND dialog, CLinkCtrl &caption, int captionId,
                                  const char *text, int fieldId, const CStr &target)
{
    caption.Attach(GetDlgItem(dialog, captionId), "", 0, REPORT_CAPTION_COLOR,
                   REPORT_CAPTION_COLOR, LCF_PARENTFONT, 0, NULL, 0);
    caption.SetText(text);
    SendDlgItemMessageA(dialog, fieldId, EM_LIMITTEXT, target.GetCapacity() - 1, 0);
    SendDlgItemMessageA(dialog, fieldId, EM_SETCUEBANNER, 0,
                        reinterpret_cast<LPARAM>(CUE_BANNER));
}

INT_PTR CReportDialog::OnCommand(HWND dialog, WORD command)
{
    switch (command)
    {
    case IDC_REPORT_SEND:
        ReadEditText(dialog, IDC_REPORT_DESCRIPTION, m_Description);
        ReadEditText(dialog, IDC_REPORT_EMAIL, m_Email);
        EndDialog(dialog, 1);
        break;
    case IDC_REPORT_DONT_SEND:
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    }
    return 0;
}

// White behind every static control, so that the upper band reads as one white area;
// the notice of the files is grey like the captions.
INT_PTR CReportDialog::OnColorStatic(HWND dialog, HDC dc, HWND control)
{
    if (control == m_FilesLink.GetWindow() || control == GetDlgItem(dialog, IDC_REPORT_FILES))
        SetTextColor(dc, REPORT_CAPTION_COLOR);
    return reinterpret_cast<INT_PTR>(m_Background.Apply(dc));
}

void CReportDialog::OnDestroy(HWND dialog)
{
    // The labels give their windows back while these still exist; the data object
    // outlives the dialog and must not reach for window handles that are gone.
    m_TitleLabel.Detach();
    m_DescriptionCaption.Detach();
    m_EmailCaption.Detach();
    m_WebsiteLink.Destroy();
    m_FilesLink.Destroy();
    m_Separator.Detach();
    m_Background.Release();
    DestroyWindowIcon(dialog, ICON_SMALL);
    DestroyWindowIcon(dialog, ICON_BIG);
}

// ---- Send flow ----

namespace
{

struct CFormField
{
    const char *name;
    const char *value;
};

int AddFields(CHttpPost &post, std::initializer_list<CFormField> fields)
{
    for (const CFormField &field : fields)
        if (!post.AddPart(field.name, field.value ? field.value : "", PART_FIELD))
            return 0;
    return 1;
}

// The fields that do not depend on the user's answer, made before the dialog: a fault
// that comes while it is up may leave the heap or the loader to nobody else, and the
// less is left to do after Send, the likelier the upload still gets through.
int AddFixedFields(CHttpPost &post, const CReportSettings &settings)
{
    CStr version, machineId;
    CVersionInfo versionInfo;
    CMachineId machine;
    versionInfo.GetVersionNumber(GetModuleHandleA(NULL), NULL, &version);
    machine.GetText(machineId, MACHINE_ID_VALUE);
    return AddFields(post, {{"a", "r"},
                            {"p", settings.product},
                            {"s", settings.extra},
                            {"v", version.GetText()},
                            {"g", machineId.GetText()}});
}

} // namespace

int SendReport(const CReportSettings &settings, const CStr &dumpFile, const CStr &textFile)
{
    if (!settings.server || !*settings.server)
        return 1;
    CHttpPost post;
    int formReady = AddFixedFields(post, settings);
    CStr email;
    CStr description;
    description.Reset(REPORT_DESCRIPTION_CAPACITY);
    // A refused field leaves the form incomplete: nothing is sent then.
    if (CReportDialog::Run(settings.dialogIcon, dumpFile, textFile, email, description) != 1 ||
        !formReady ||
        !AddFields(post, {{"e", email.GetText()}, {"x", description.GetText()}}))
        return 0;
    post.AddFile("d", dumpFile.GetText());
    post.AddFile("t", textFile.GetText());
    CStr server, path, agent, reply;
    server = settings.server;
    path = settings.path;
    post.Post(server, path, agent, &reply, NULL, REPORT_PORT);
    return 0;
}
