#include "net/DescriptorLimit.h"

#include <dirent.h>
#include <sys/resource.h>

void RaiseDescriptorLimit()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == files.rlim_max)
        return;
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
}

long FreeDescriptors()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return -1;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr)
        return -1;
    long open = -1; // the folder's own descriptor is listed too
    while (const dirent* entry = readdir(folder))
        if (entry->d_name[0] != '.')
            ++open;
    closedir(folder);
    const rlim_t limit = files.rlim_cur;
    // An unlimited or huge limit is more than any count here.
    if (limit == RLIM_INFINITY || limit > static_cast<rlim_t>(1) << 30)
        return 1L << 30;
    return static_cast<long>(limit) - open;
}
