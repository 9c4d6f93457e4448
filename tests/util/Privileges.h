// Root writes into any folder. For as long as one of these lives, the calling
// thread (only it) loses that, so a test meets a read-only folder as a user
// does; the capabilities stay permitted and come back at the end.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testutil {

class WithoutOverride
{
public:
    WithoutOverride()
    {
        m_active = ::geteuid() != 0; // nothing to take away
        if (m_active || ::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
        m_active = m_dropped;
    }
    ~WithoutOverride()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    WithoutOverride(const WithoutOverride &) = delete;
    WithoutOverride &operator=(const WithoutOverride &) = delete;

    // Whether permissions now hold for this thread.
    bool active() const { return m_active; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
    bool m_dropped = false;
    bool m_active = false;
};

} // namespace testutil
