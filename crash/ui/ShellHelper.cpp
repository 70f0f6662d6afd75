#include "crash/ui/ShellHelper.h"

int CShellHelper::ShellOpen(const wchar_t *) { return 0; }
int CShellHelper::ShellRun(const char *, const char *, const char *, int, const char *) { return 0; }
CWerRegistration::CWerRegistration() : m_pRegisterFile(NULL), m_nLookedUp(0) {}
int CWerRegistration::RegisterFile(const wchar_t *) { return 0; }
