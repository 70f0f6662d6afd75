// The call stack of an exception context walked along its frame pointers alone, for a
// report that must not use the debug-help library (its minidump worker may still be in
// it). Both builds keep frame pointers.
#ifndef BRENNLOW_CRASH_FRAMEWALK_H
#define BRENNLOW_CRASH_FRAMEWALK_H

#include <windows.h>

// Writes one line per frame into file, "module:module@0xOFFSET(...)" as the library
// writes a frame of a module without symbols, so that the symbolizer can name it; the
// bare address outside every module. Stops where the chain leaves the loaded modules.
void WalkFramePointers(const CONTEXT &context, HANDLE file);

// The file name of path without its extension, in the ANSI code page.
void GetModuleStem(const wchar_t *path, char *stem, size_t size);

#endif
