#include "paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool VtnUnderRoot()
{
    const char* root = getenv("VTN_ROOT");
    return root != nullptr && root[0] != '\0';
}

std::string VtnPath(const char* systemPath)
{
    std::string path = systemPath ? systemPath : "";
    if (!VtnUnderRoot())
        return path;
    std::string root = getenv("VTN_ROOT");
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    if (!path.empty() && path[0] != '/')
        path.insert(path.begin(), '/');
    return root + path;
}

std::string VtnPathForWrite(const char* systemPath)
{
    std::string real = VtnPath(systemPath);
    // Nearly always the folder is there already: one stat instead of a mkdir per level.
    size_t last = real.rfind('/');
    struct stat st;
    if (last == std::string::npos || last == 0 || (stat(real.substr(0, last).c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        return real;
    // mkdir -p of every folder above the file; existing ones are fine.
    for (size_t pos = real.find('/', 1); pos != std::string::npos; pos = real.find('/', pos + 1)) {
        std::string dir = real.substr(0, pos);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            break;
    }
    return real;
}

bool VtnFixRoot(const char* program, bool mustExist)
{
    if (!VtnUnderRoot())
        return true;
    std::string root = getenv("VTN_ROOT");
    if (root[0] != '/') {
        char* here = getcwd(nullptr, 0);
        if (here == nullptr) {
            fprintf(stderr, "%s: VTN_ROOT %s is relative and the current folder is unknown: %s\n", program,
                    root.c_str(), strerror(errno));
            return false;
        }
        root = std::string(here) + (here[1] != '\0' ? "/" : "") + root;
        free(here);
        if (setenv("VTN_ROOT", root.c_str(), 1) != 0) {
            fprintf(stderr, "%s: cannot set VTN_ROOT to %s: %s\n", program, root.c_str(), strerror(errno));
            return false;
        }
    }
    if (!mustExist)
        return true;
    struct stat st;
    if (stat(root.c_str(), &st) != 0) {
        fprintf(stderr, "%s: VTN_ROOT %s: %s\n", program, root.c_str(), strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        fprintf(stderr, "%s: VTN_ROOT %s is not a folder\n", program, root.c_str());
        return false;
    }
    return true;
}
