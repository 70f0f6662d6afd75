#include "base/Random.h"

#include <string.h>
#include <wincrypt.h>

int CRandom::Fill(void *buffer, INT32 length)
{
    if (length < 0 || (!buffer && length > 0))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // A verify-only context needs no key container, so no user profile is touched.
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return 0;
    // Whatever happens below, the buffer never keeps its old bytes as if they were random.
    if (length > 0)
        memset(buffer, 0, static_cast<size_t>(length));
    int filled = CryptGenRandom(provider, static_cast<DWORD>(length),
                                static_cast<BYTE *>(buffer)) ? 1 : 0;
    DWORD reason = GetLastError();
    CryptReleaseContext(provider, 0);
    if (!filled)
        SetLastError(reason);
    return filled;
}

int CRandom::FillBlock(void *buffer, UINT32 length)
{
    const UINT32 piece = 0x40000000;
    BYTE *next = static_cast<BYTE *>(buffer);
    int filled = 1;
    for (UINT32 left = length; left > 0;)
    {
        UINT32 size = left < piece ? left : piece;
        filled &= Fill(next, static_cast<INT32>(size));
        next += size;
        left -= size;
    }
    return filled;
}
