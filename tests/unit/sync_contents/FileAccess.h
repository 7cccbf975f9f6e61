#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// While it lives, the calling thread obeys file permissions even when it runs as root: the
// capabilities that override them are taken out of its effective set (they stay permitted, so
// the destructor can put them back). Without it, a test as root could not make a folder
// unreadable or unwritable.
class CObeyFilePermissions
{
public:
    CObeyFilePermissions() { m_bChanged = Set(false); }
    ~CObeyFilePermissions()
    {
        if (m_bChanged)
            Set(true);
    }

private:
    static bool Set(bool bOverride)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (::syscall(SYS_capget, &header, data) != 0)
            return false;
        const unsigned nMask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        if (bOverride)
            data[0].effective |= data[0].permitted & nMask;
        else
            data[0].effective &= ~nMask;
        return ::syscall(SYS_capset, &header, data) == 0;
    }
    bool m_bChanged = false;
};
