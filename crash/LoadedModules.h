// The modules of this process as the loader lists them, read through the guarded memory
// reader alone. Neither the heap nor the loader lock is taken, so the list can be read
// while the faulting thread, or a thread the report waited for in vain, holds either.
#ifndef BRENNLOW_CRASH_LOADEDMODULES_H
#define BRENNLOW_CRASH_LOADEDMODULES_H

#include <windows.h>

// A list that runs longer than this is taken for a damaged one.
#define LOADED_MODULES_MAX 1024

struct CLoadedModule
{
    ULONG_PTR base;
    UINT32 size;
    // From the image's headers; zero where they could not be read or were not asked for.
    UINT32 checksum;
    UINT32 timeStamp;
    VS_FIXEDFILEINFO version;
    wchar_t path[MAX_PATH]; // "" when unreadable
};

// Called for each module in load order; a result of 0 ends the walk.
typedef int (*LoadedModuleVisitor)(const CLoadedModule &module, void *context);

// withHeaders: read time stamp, checksum and version from each image as well. Returns
// the number of modules visited.
int ForEachLoadedModule(LoadedModuleVisitor visit, void *context, int withHeaders);

// The module that holds address, without its headers; 1 when there is one.
int FindLoadedModule(ULONG_PTR address, CLoadedModule *module);

#endif
