#include "crash/FaultGuard.h"

int CallGuarded(GuardedCall, void *, INT_PTR *, DWORD *) { return 0; }
