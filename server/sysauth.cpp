// System-account check with the system password database and crypt.
#include "sysauth.h"

#include <cstring>
#include <dlfcn.h>
#include <pwd.h>
#include <shadow.h>
#include <unistd.h>

#include "paths.h"

namespace {

using CryptFunc = char* (*)(const char*, const char*);

// libcrypt is loaded on first use: nothing else in the server needs it.
CryptFunc LoadCrypt()
{
    static CryptFunc func = [] {
        void* lib = dlopen("libcrypt.so.1", RTLD_NOW);
        return lib ? reinterpret_cast<CryptFunc>(dlsym(lib, "crypt")) : nullptr;
    }();
    return func;
}

void Wipe(char* text)
{
    if (text != nullptr)
        explicit_bzero(text, strlen(text));
}

}  // namespace

int vtn_check_sys_user(char* name, char* password)
{
    int result = -1;
    if (name != nullptr && password != nullptr && name[0] != '\0' && name[0] != '+') {
        passwd* pw = getpwnam(name);
        if (pw != nullptr) {
            const char* hash = pw->pw_passwd;
            spwd* sp = nullptr;
            if (hash != nullptr && strcmp(hash, "x") == 0 && (sp = getspnam(name)) != nullptr)
                hash = sp->sp_pwdp;
            bool nologin = access(VtnPath("/var/run/nologin").c_str(), F_OK) == 0;
            CryptFunc cryptFunc = LoadCrypt();
            if (hash != nullptr && hash[0] != '\0' && cryptFunc != nullptr && (!nologin || pw->pw_uid == 0)) {
                const char* made = cryptFunc(password, hash);
                if (made != nullptr && strcmp(made, hash) == 0)
                    result = 0;
            }
        }
    }
    Wipe(password);
    return result;
}
