// Arbitrary bytes as one users-file line: the parse must stay inside its buffers, leave the
// line as it was and give terminated fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "global_user.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The file reader hands over at most 2047 characters and a terminator.
    if (size > 2047)
        size = 2047;
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    const std::vector<char> before = line;

    _VTN_USER_INFO user;
    bool comment = false;
    bool parsed = GetUserInfo(line.data(), &user, &comment);

    if (line != before)
        abort();
    if (memchr(user.name, 0, sizeof user.name) == nullptr ||
        memchr(user.password, 0, sizeof user.password) == nullptr ||
        memchr(user.description, 0, sizeof user.description) == nullptr)
        abort();
    if (parsed && comment)
        abort();
    if (!parsed && (user.name[0] != '\0' || user.flags != 0))
        abort();
    if (user.unused != 0)
        abort();
    return 0;
}
