// Mail settings file "/etc/vtnmailset.dat": the SMTP record, then the recipient records.
#include "intfimp.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio.h"
#include "vtnsmtp.h"

namespace {

constexpr const char* kMailFile = "/etc/vtnmailset.dat";
constexpr off_t kSmtpSize = sizeof(_VTN_SMTP_SERVER_INFO);
constexpr off_t kRecipientSize = sizeof(_VTN_MAIL_RECIPIENT_INFO);

// Every open and close of the file happens under this mutex: closing any descriptor of a file
// drops the fcntl lock another thread holds on it.
std::mutex gMailFileMutex;

off_t RecordOffset(off_t index)
{
    return kSmtpSize + index * kRecipientSize;
}

bool InUse(const _VTN_MAIL_RECIPIENT_INFO& r)
{
    return (r.flags & VTN_MAIL_IN_USE) != 0;
}

bool SameAddress(const _VTN_MAIL_RECIPIENT_INFO& a, const _VTN_MAIL_RECIPIENT_INFO& b)
{
    return strncmp(a.address, b.address, sizeof(a.address)) == 0;
}

// The file opened for a change, under the mutex and the whole-file lock.
class LockedMailFile {
public:
    LockedMailFile() : guard_(gMailFileMutex)
    {
        std::string path = VtnPathForWrite(kMailFile);
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        lock_.fd = fd_;
        VTN_LOCK_LOG_FILE(&lock_);
    }
    ~LockedMailFile()
    {
        if (fd_ < 0)
            return;
        VTN_UNLOCK_LOG_FILE(&lock_);
        close(fd_);
    }
    LockedMailFile(const LockedMailFile&) = delete;
    LockedMailFile& operator=(const LockedMailFile&) = delete;
    int fd() const { return fd_; }

private:
    std::lock_guard<std::mutex> guard_;
    int fd_ = -1;
    _VTN_LOCK_FILE_DATA lock_{-1};
};

// Whole recipient records after the SMTP record.
off_t RecipientCount(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size < kSmtpSize)
        return 0;
    return (st.st_size - kSmtpSize) / kRecipientSize;
}

uint32_t ChangeRecipient(int fd, const _VTN_MAIL_RECIPIENT_INFO& given, uint8_t action)
{
    if (action > VTN_RECIPIENT_DELETE)
        return VTN_FAILURE;
    const off_t count = RecipientCount(fd);
    off_t freeSlot = -1;
    for (off_t i = 0; i < count; ++i) {
        _VTN_MAIL_RECIPIENT_INFO r{};
        if (!ReadExact(fd, &r, sizeof(r), RecordOffset(i)))
            return VTN_FAILURE;
        if (!InUse(r)) {
            if (freeSlot < 0)
                freeSlot = i;
            continue;
        }
        if (!SameAddress(r, given))
            continue;
        switch (action) {
        case VTN_RECIPIENT_ADD:
            return VTN_RECIPIENT_EXISTS;
        case VTN_RECIPIENT_SET_FLAGS: {
            uint8_t flags = given.flags | VTN_MAIL_IN_USE;
            return WriteExactAt(fd, &flags, 1, RecordOffset(i) + offsetof(_VTN_MAIL_RECIPIENT_INFO, flags)) ? VTN_SUCCESS
                                                                                                     : VTN_FAILURE;
        }
        case VTN_RECIPIENT_SET_NAME:
            return WriteExactAt(fd, given.name, sizeof(given.name), RecordOffset(i) + offsetof(_VTN_MAIL_RECIPIENT_INFO, name))
                       ? VTN_SUCCESS
                       : VTN_FAILURE;
        case VTN_RECIPIENT_DELETE: {
            const _VTN_MAIL_RECIPIENT_INFO zero{};
            return WriteExactAt(fd, &zero, sizeof(zero), RecordOffset(i)) ? VTN_SUCCESS : VTN_FAILURE;
        }
        default:
            return VTN_FAILURE;
        }
    }
    if (action != VTN_RECIPIENT_ADD)
        return VTN_NOT_FOUND;
    _VTN_MAIL_RECIPIENT_INFO rec = given;
    rec.flags |= VTN_MAIL_IN_USE;
    // A trailing piece of a record is overwritten by the new one.
    return WriteExactAt(fd, &rec, sizeof(rec), RecordOffset(freeSlot >= 0 ? freeSlot : count)) ? VTN_SUCCESS : VTN_FAILURE;
}

}  // namespace

uint32_t cs_vtn_get_smtp_server(int, _VTN_SMTP_SERVER_INFO* out)
{
    if (out == nullptr)
        return VTN_FAILURE;
    std::lock_guard<std::mutex> guard(gMailFileMutex);
    std::string path = VtnPath(kMailFile);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return VTN_FILE_MISSING;
    bool whole = ReadExact(fd, out, sizeof(*out), 0);
    close(fd);
    return whole ? VTN_SUCCESS : VTN_FAILURE;
}

uint32_t cs_vtn_set_smtp_server(int, _VTN_SMTP_SERVER_INFO* info)
{
    if (info == nullptr)
        return VTN_FAILURE;
    info->host[sizeof(info->host) - 1] = '\0';
    info->reserved1[sizeof(info->reserved1) - 1] = '\0';
    info->reserved2[sizeof(info->reserved2) - 1] = '\0';
    info->sender[sizeof(info->sender) - 1] = '\0';
    if (!SmtpTextIsSafe(info->sender, sizeof(info->sender)))
        return VTN_FAILURE;
    LockedMailFile file;
    if (file.fd() < 0)
        return VTN_FAILURE;
    return WriteExactAt(file.fd(), info, sizeof(*info), 0) ? VTN_SUCCESS : VTN_FAILURE;
}

uint32_t cs_vtn_enum_mail_recipient(int, _VTN_MAIL_RECIPIENT_INFO* out, int index)
{
    if (out == nullptr)
        return VTN_FAILURE;
    if (index < 0)
        return VTN_NO_MORE_ENTRIES;
    std::lock_guard<std::mutex> guard(gMailFileMutex);
    std::string path = VtnPath(kMailFile);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return VTN_FILE_MISSING;
    uint32_t result = VTN_NO_MORE_ENTRIES;
    _VTN_SMTP_SERVER_INFO smtp{};
    if (!ReadExact(fd, &smtp, sizeof(smtp), 0)) {
        result = VTN_FAILURE;
    } else {
        const off_t count = RecipientCount(fd);
        int seen = 0;
        for (off_t i = 0; i < count; ++i) {
            _VTN_MAIL_RECIPIENT_INFO r{};
            if (!ReadExact(fd, &r, sizeof(r), RecordOffset(i)))
                break;
            if (!InUse(r))
                continue;
            if (seen++ == index) {
                *out = r;
                result = VTN_SUCCESS;
                break;
            }
        }
    }
    close(fd);
    return result;
}

uint32_t cs_vtn_set_mail_recipients(int, _VTN_MAIL_RECIPIENT_INFO* info, uint8_t action)
{
    if (info == nullptr)
        return VTN_FAILURE;
    info->address[sizeof(info->address) - 1] = '\0';
    info->name[sizeof(info->name) - 1] = '\0';
    if (!SmtpTextIsSafe(info->address, sizeof(info->address)) || !SmtpTextIsSafe(info->name, sizeof(info->name)))
        return VTN_FAILURE;
    LockedMailFile file;
    if (file.fd() < 0)
        return VTN_FAILURE;
    struct stat st;
    if (fstat(file.fd(), &st) != 0)
        return VTN_FAILURE;
    if (st.st_size == 0) {
        const _VTN_SMTP_SERVER_INFO zero{};
        if (!WriteExactAt(file.fd(), &zero, sizeof(zero), 0))
            return VTN_FAILURE;
    }
    _VTN_SMTP_SERVER_INFO smtp{};
    if (!ReadExact(file.fd(), &smtp, sizeof(smtp), 0))
        return VTN_FAILURE;
    return ChangeRecipient(file.fd(), *info, action);
}
