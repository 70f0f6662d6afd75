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
