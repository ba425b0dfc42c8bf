// The launcher's defence against DLLs planted beside it: the DLL search limited to the system folder.
#pragma once

namespace kesmar {

// LOAD_LIBRARY_SEARCH_SYSTEM32: later loads by name look in the system folder only.
constexpr unsigned long kLoadLibrarySearchSystem32 = 0x00000800;

// Calls SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) for the whole
// process, so that a DLL named like a system one in the launcher's folder
// (typically Downloads) or in the current folder is never loaded. The
// function is looked up at run time: Vista and 7 only have it with an update,
// and the launcher must still start there. True when the call was made and
// succeeded; false leaves the search as Windows set it.
bool RestrictDllSearchToSystemFolder();

}  // namespace kesmar
