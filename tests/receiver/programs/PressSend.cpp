// Runs a program of the current folder with the given arguments, types the description
// into its problem-report dialog and presses Send, then waits for the program to end, as
// a user who reports a crash does. Exit status 0 when the dialog was found and the program
// ended within a minute.
//   PressSend <program> <arguments> <description>
#include <windows.h>
#include <stdio.h>

#include "base/Handle.h"

static const int SEND_BUTTON = 1000;
static const int DESCRIPTION_EDIT = 1004;
static const DWORD WAIT_MS = 60000;

struct CDialogSearch
{
    DWORD m_ProcessId;
    HWND m_Dialog;
};

static BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    CDialogSearch *search = reinterpret_cast<CDialogSearch *>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->m_ProcessId || !IsWindowVisible(window) || !GetDlgItem(window, SEND_BUTTON))
        return TRUE;
    search->m_Dialog = window;
    return FALSE;
}

int main(int argc, char **argv)
{
    if (argc != 4)
    {
        printf("usage: PressSend <program> <arguments> <description>\n");
        return 2;
    }
    char commandLine[1024];
    snprintf(commandLine, sizeof(commandLine), "\"%s\" %s", argv[1], argv[2]);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
    {
        printf("cannot start %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    CHandle process(info.hProcess), thread(info.hThread);
    CDialogSearch search = {info.dwProcessId, NULL};
    for (DWORD waited = 0; !search.m_Dialog && waited < WAIT_MS; waited += 100)
    {
        if (WaitForSingleObject(process.Get(), 100) == WAIT_OBJECT_0)
            break;
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    }
    if (!search.m_Dialog)
    {
        printf("%s showed no problem-report dialog\n", argv[1]);
        return 1;
    }
    SetDlgItemTextA(search.m_Dialog, DESCRIPTION_EDIT, argv[3]);
    PostMessageA(search.m_Dialog, WM_COMMAND, MAKEWPARAM(SEND_BUTTON, BN_CLICKED), 0);
    if (WaitForSingleObject(process.Get(), WAIT_MS) != WAIT_OBJECT_0)
    {
        printf("%s did not end after Send\n", argv[1]);
        return 1;
    }
    return 0;
}
