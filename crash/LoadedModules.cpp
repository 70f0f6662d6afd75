#include "crash/LoadedModules.h"

#include <string.h>

#include "crash/CrashReport.h"

// Resource type of the version block
#define RESOURCE_TYPE_VERSION 16
// High bit of a resource directory entry: a named entry, or one that leads to a directory
#define RESOURCE_ENTRY_FLAG 0x80000000u
#define RESOURCE_DIRECTORY_MAX_ENTRIES 256
// The fixed block follows the version resource's header and key within these bytes.
#define VERSION_SEARCH_BYTES 128

// The loader's records, as far as the walk reads them.
struct CCountedText
{
    USHORT length; // in bytes
    USHORT maximum;
    wchar_t *buffer;
};

struct CLoaderEntry
{
    LIST_ENTRY loadOrder; // first, so that a link and its entry share one address
    LIST_ENTRY memoryOrder;
    LIST_ENTRY initOrder;
    void *base;
    void *entryPoint;
    ULONG size;
    CCountedText path;
};

struct CLoaderData
{
    ULONG length;
    BOOLEAN initialized;
    void *ssHandle;
    LIST_ENTRY loadOrder;
};

struct CProcessBlock
{
    BYTE flags[4];
    void *mutant;
    void *imageBase;
    CLoaderData *loader;
};

// The thread information block points to the process block.
static const void *CurrentProcessBlock()
{
    const void *block;
#if defined(_M_IX86) || defined(__i386__)
    __asm__("movl %%fs:0x30, %0" : "=r"(block));
#else
    __asm__("movq %%gs:0x60, %0" : "=r"(block));
#endif
    return block;
}

template <typename T> static int ReadAt(ULONG_PTR address, T *target)
{
    return ReadOwnMemory(reinterpret_cast<const void *>(address), target, sizeof(*target));
}

// The offset, from the resource section, of the first entry of a directory with this id
// (any id when id is 0); 0 when there is none or it is not of the kind asked for.
static DWORD ResourceEntry(ULONG_PTR section, DWORD directory, DWORD id, int isDirectory)
{
    IMAGE_RESOURCE_DIRECTORY header;
    if (!ReadAt(section + directory, &header))
        return 0;
    DWORD count = header.NumberOfNamedEntries + header.NumberOfIdEntries;
    ULONG_PTR entries = section + directory + sizeof(header);
    for (DWORD i = 0; i < count && i < RESOURCE_DIRECTORY_MAX_ENTRIES; i++)
    {
        DWORD entry[2]; // name or id, then the offset
        if (!ReadOwnMemory(reinterpret_cast<const void *>(entries + i * sizeof(entry)), entry,
                           sizeof(entry)))
            return 0;
        if (id && entry[0] != id)
            continue;
        if (((entry[1] & RESOURCE_ENTRY_FLAG) != 0) != (isDirectory != 0))
            return 0;
        return entry[1] & ~RESOURCE_ENTRY_FLAG;
    }
    return 0;
}

// The fixed version block of the image's first version resource.
static void ReadVersion(ULONG_PTR base, const IMAGE_DATA_DIRECTORY &resources,
                        VS_FIXEDFILEINFO *version)
{
    if (!resources.VirtualAddress)
        return;
    ULONG_PTR section = base + resources.VirtualAddress;
    DWORD names = ResourceEntry(section, 0, RESOURCE_TYPE_VERSION, 1);
    DWORD languages = names ? ResourceEntry(section, names, 0, 1) : 0;
    DWORD data = languages ? ResourceEntry(section, languages, 0, 0) : 0;
    IMAGE_RESOURCE_DATA_ENTRY entry;
    BYTE block[VERSION_SEARCH_BYTES + sizeof(VS_FIXEDFILEINFO)];
    if (!data || !ReadAt(section + data, &entry) || entry.Size < sizeof(block) ||
        !ReadAt(base + entry.OffsetToData, &block))
        return;
    for (size_t at = 0; at < VERSION_SEARCH_BYTES; at += sizeof(DWORD))
    {
        VS_FIXEDFILEINFO found;
        memcpy(&found, block + at, sizeof(found));
        if (found.dwSignature == VS_FFI_SIGNATURE)
        {
            *version = found;
            return;
        }
    }
}

static void ReadHeaders(CLoadedModule *module)
{
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS headers;
    if (!ReadAt(module->base, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !ReadAt(module->base + dos.e_lfanew, &headers) || headers.Signature != IMAGE_NT_SIGNATURE)
        return;
    module->timeStamp = headers.FileHeader.TimeDateStamp;
    module->checksum = headers.OptionalHeader.CheckSum;
    module->size = headers.OptionalHeader.SizeOfImage;
    ReadVersion(module->base,
                headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE],
                &module->version);
}

int ForEachLoadedModule(LoadedModuleVisitor visit, void *context, int withHeaders)
{
    CProcessBlock block;
    CLoaderData loader;
    if (!ReadAt(reinterpret_cast<ULONG_PTR>(CurrentProcessBlock()), &block) ||
        !ReadAt(reinterpret_cast<ULONG_PTR>(block.loader), &loader))
        return 0;
    const LIST_ENTRY *head = &block.loader->loadOrder;
    const LIST_ENTRY *link = loader.loadOrder.Flink;
    int count = 0;
    while (link && link != head && count < LOADED_MODULES_MAX)
    {
        CLoaderEntry entry;
        if (!ReadAt(reinterpret_cast<ULONG_PTR>(link), &entry))
            break;
        CLoadedModule module;
        memset(&module, 0, sizeof(module));
        module.base = reinterpret_cast<ULONG_PTR>(entry.base);
        module.size = entry.size;
        size_t length = entry.path.length / sizeof(wchar_t);
        if (length >= MAX_PATH)
            length = MAX_PATH - 1;
        if (!ReadOwnMemory(entry.path.buffer, module.path, length * sizeof(wchar_t)))
            length = 0;
        module.path[length] = 0;
        if (withHeaders)
            ReadHeaders(&module);
        count++;
        if (!visit(module, context))
            break;
        link = entry.loadOrder.Flink;
    }
    return count;
}

struct CModuleSearch
{
    ULONG_PTR address;
    CLoadedModule *found;
    int isFound;
};

static int MatchModule(const CLoadedModule &module, void *context)
{
    CModuleSearch *search = static_cast<CModuleSearch *>(context);
    if (search->address < module.base || search->address - module.base >= module.size)
        return 1;
    *search->found = module;
    search->isFound = 1;
    return 0;
}

int FindLoadedModule(ULONG_PTR address, CLoadedModule *module)
{
    CModuleSearch search = {address, module, 0};
    ForEachLoadedModule(MatchModule, &search, 0);
    return search.isFound;
}
