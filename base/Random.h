// CRandom fills buffers from the system's cryptographic random generator.
#ifndef BRENNLOW_BASE_RANDOM_H
#define BRENNLOW_BASE_RANDOM_H

#include <windows.h>

class CRandom
{
public:
    // 1 when all length bytes came from the generator; 0 otherwise, with the buffer
    // unchanged when no provider was available and zero-filled when generation failed.
    int Fill(void *buffer, INT32 length);
    // Fill for lengths past the signed 32-bit range (a benchmark block of 2 GB and more),
    // in pieces; 1 when every piece was filled.
    int FillBlock(void *buffer, UINT32 length);
};

#endif
