#include "crash/HttpPost.h"

#include "base/Str.h"

CHttpPost::CHttpPost() : m_pParts(NULL), m_nBindCount(0)
{
    ClearFunctions();
}

CHttpPost::~CHttpPost()
{
    ClearParts();
}

int CHttpPost::Bind()
{
    return 0;
}

void CHttpPost::Unbind()
{
}

int CHttpPost::AddPart(const char *, const char *, int)
{
    return 0;
}

int CHttpPost::AddFile(const char *, const char *)
{
    return 0;
}

int CHttpPost::Post(const CStr &, const CStr &, const CStr &, CStr *, HWND, unsigned short)
{
    return 0;
}

void CHttpPost::ClearParts()
{
}

void CHttpPost::ClearFunctions()
{
}
