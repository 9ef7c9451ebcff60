#include "common/product.h"

#include <shlobj.h>

#include "common/safe_strings.h"

namespace vireo {

bool BuildFolderPath(int csidl, const char* suffix, char (&path)[MAX_PATH]) {
    // Without the folder the suffix alone would be a drive-less path, which
    // the loader and the shell resolve against whatever drive is current.
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_DEFAULT, path))) {
        path[0] = '\0';
        return false;
    }
    path[MAX_PATH - 1] = '\0';
    if (FAILED(StringCchCatA(path, MAX_PATH, suffix))) {
        path[0] = '\0';
        return false;
    }
    return true;
}

bool BuildProductPath(const char* fileName, char (&path)[MAX_PATH]) {
    char suffix[MAX_PATH];
    if (FAILED(StringCchPrintfA(suffix, MAX_PATH, "%s\\%s", kProductSubfolder, fileName))) {
        path[0] = '\0';
        return false;
    }
    return BuildFolderPath(CSIDL_PROGRAM_FILES, suffix, path);
}

}  // namespace vireo
