// filerename: the application's macro language cannot move a file itself.
#include <windows.h>
#include <cstdio>

// 0 when the file now bears the new name (possibly in another folder), -1
// when not; an existing file of the new name is never replaced.
extern "C" int WINAPI filerename(const char* from, const char* to)
{
    if (!from || !to)
        return -1;
    return rename(from, to) == 0 ? 0 : -1;
}
