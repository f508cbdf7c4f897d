// The handles and threads of this process by name, so that a test whose
// counts moved can say what moved: each handle's object type and name (and
// for a thread or an event, its state), each thread's start module.
#include "kivtest.h"
#include <tlhelp32.h>
#include <winternl.h>
#include <algorithm>
#include <cstdio>
#include <map>

namespace {

typedef LONG(NTAPI* QueryObjectFn)(HANDLE, int, void*, ULONG, ULONG*);
typedef LONG(NTAPI* QueryThreadFn)(HANDLE, int, void*, ULONG, ULONG*);
const int kObjectName = 1, kObjectType = 2;   // ObjectNameInformation, ObjectTypeInformation
const int kThreadStartAddress = 9;            // ThreadQuerySetWin32StartAddress

HMODULE Ntdll() { return GetModuleHandleA("ntdll.dll"); }

// The UNICODE_STRING at the start of an NtQueryObject answer.
std::wstring QueryObjectText(HANDLE h, int what)
{
    static QueryObjectFn query = GetExport<QueryObjectFn>(Ntdll(), "NtQueryObject");
    alignas(8) BYTE buf[2048];
    ULONG n = 0;
    if (!query || query(h, what, buf, sizeof buf, &n) < 0)
        return L"?";
    const UNICODE_STRING* s = reinterpret_cast<const UNICODE_STRING*>(buf);
    return s->Buffer ? std::wstring(s->Buffer, s->Length / sizeof(wchar_t)) : L"";
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w)
        s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

// The module a code address lies in, or the address itself.
std::string ModuleOf(void* address)
{
    HMODULE m = nullptr;
    char name[MAX_PATH] = "";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(address), &m) &&
        GetModuleFileNameA(m, name, sizeof name)) {
        const char* base = strrchr(name, '\\');
        char at[32];
        snprintf(at, sizeof at, "+0x%llx",
                 (unsigned long long)(static_cast<BYTE*>(address) - reinterpret_cast<BYTE*>(m)));
        return std::string(base ? base + 1 : name) + at;
    }
    char at[32];
    snprintf(at, sizeof at, "%p", address);
    return at;
}

std::string ThreadStart(HANDLE thread)
{
    static QueryThreadFn query = GetExport<QueryThreadFn>(Ntdll(), "NtQueryInformationThread");
    void* start = nullptr;
    if (!query || query(thread, kThreadStartAddress, &start, sizeof start, nullptr) < 0)
        return "?";
    return ModuleOf(start);
}

std::string ThreadState(HANDLE thread)
{
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    return "thread " + std::to_string(GetThreadId(thread)) + " from " + ThreadStart(thread) +
           (code == STILL_ACTIVE ? ", running" : ", ended with " + std::to_string(code));
}

// An event's kind and state, read without waiting on it: a wait would take
// the signal of an auto-reset event from its owner.
std::string EventState(HANDLE h)
{
    typedef LONG(NTAPI * QueryEventFn)(HANDLE, int, void*, ULONG, ULONG*);
    static QueryEventFn query = GetExport<QueryEventFn>(Ntdll(), "NtQueryEvent");
    LONG info[2] = {};   // EVENT_BASIC_INFORMATION: the type, then the state
    if (!query || query(h, 0, info, sizeof info, nullptr) < 0)
        return "?";
    return std::string(info[0] ? "auto-reset" : "manual-reset") +
           (info[1] ? ", signalled" : ", not signalled");
}

// A spin lock: it makes no handle, where a contended std::mutex makes an event.
LONG volatile madeLock;
void Lock()
{
    while (InterlockedExchange(&madeLock, 1))
        Sleep(0);
}
void Unlock() { InterlockedExchange(&madeLock, 0); }
const int kFrames = 8;
struct Maker {
    void* frames[kFrames];
    int n;
};
std::map<uintptr_t, Maker> madeAt;   // handle -> the calls that made it, innermost first
decltype(&CreateEventA) realCreateEventA;
decltype(&CreateSemaphoreA) realCreateSemaphoreA;
decltype(&CloseHandle) realCloseHandle;

// The 64-bit stack is walked by its unwind tables; 32-bit code keeps no frame
// pointers to walk, so there the maker is the hooked call's return address.
void NoteMade(HANDLE h, void* caller)
{
    Maker m = {{caller}, 1};
#ifdef _WIN64
    m.n = RtlCaptureStackBackTrace(2, kFrames, m.frames, nullptr);
#endif
    Lock();
    madeAt[reinterpret_cast<uintptr_t>(h)] = m;
    Unlock();
}

HANDLE WINAPI NotingCreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manual, BOOL initial, LPCSTR name)
{
    HANDLE h = realCreateEventA(sa, manual, initial, name);
    NoteMade(h, __builtin_return_address(0));
    return h;
}

HANDLE WINAPI NotingCreateSemaphoreA(LPSECURITY_ATTRIBUTES sa, LONG initial, LONG most, LPCSTR name)
{
    HANDLE h = realCreateSemaphoreA(sa, initial, most, name);
    NoteMade(h, __builtin_return_address(0));
    return h;
}

// A closed handle's value is soon another object's: its maker goes with it.
BOOL WINAPI NotingCloseHandle(HANDLE h)
{
    Lock();
    madeAt.erase(reinterpret_cast<uintptr_t>(h));
    Unlock();
    return realCloseHandle(h);
}

std::string MadeBy(uintptr_t value)
{
    Lock();
    auto it = madeAt.find(value);
    Maker m = it == madeAt.end() ? Maker() : it->second;
    Unlock();
    std::string s;
    for (int i = 0; i < m.n; i++)
        s += (i ? " < " : ", made from ") + ModuleOf(m.frames[i]);
    return s;
}

std::string Detail(HANDLE h, const std::wstring& type)
{
    if (type == L"Thread")
        return ThreadState(h);
    if (type == L"Process")
        return "process " + std::to_string(GetProcessId(h));
    if (type == L"Event")
        return EventState(h) + MadeBy(reinterpret_cast<uintptr_t>(h));
    std::string made = type == L"Semaphore" ? MadeBy(reinterpret_cast<uintptr_t>(h)) : "";
    return made.empty() ? "" : made.substr(2);
}

std::string Describe(const HandleEntry& e)
{
    char v[24];
    snprintf(v, sizeof v, "0x%llx", (unsigned long long)e.value);
    std::string s = std::string(v) + " " + Narrow(e.type);
    if (!e.name.empty())
        s += " \"" + Narrow(e.name) + "\"";
    if (!e.detail.empty())
        s += " (" + e.detail + ")";
    return s;
}

}

std::vector<HandleEntry> HandleList()
{
    std::vector<HandleEntry> list;
    DWORD flags;
    for (uintptr_t v = 4; v < 0x10000; v += 4) {
        HANDLE h = reinterpret_cast<HANDLE>(v);
        if (!GetHandleInformation(h, &flags))
            continue;
        HandleEntry e = {v, QueryObjectText(h, kObjectType), QueryObjectText(h, kObjectName), ""};
        e.detail = Detail(h, e.type);
        list.push_back(e);
    }
    return list;
}

std::vector<DWORD> ThreadIdsOfThisProcess()
{
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ids.push_back(te.th32ThreadID);
    CloseHandle(snap);
    return ids;
}

std::string HandlesAndThreadsMoved(const ProcessObjects& before, const ProcessObjects& after)
{
    std::string s;
    auto same = [](const HandleEntry& a, const HandleEntry& b) {
        return a.value == b.value && a.type == b.type && a.name == b.name;
    };
    for (const auto& e : after.handles)
        if (std::none_of(before.handles.begin(), before.handles.end(),
                         [&](const HandleEntry& b) { return same(e, b); }))
            s += "\n  new handle " + Describe(e);
    for (const auto& e : before.handles)
        if (std::none_of(after.handles.begin(), after.handles.end(),
                         [&](const HandleEntry& a) { return same(e, a); }))
            s += "\n  gone handle " + Describe(e);
    for (DWORD id : after.threads) {
        if (std::find(before.threads.begin(), before.threads.end(), id) != before.threads.end())
            continue;
        HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        s += "\n  new thread " + (t ? ThreadState(t) : std::to_string(id) + " (cannot be opened)");
        if (t)
            CloseHandle(t);
    }
    for (DWORD id : before.threads)
        if (std::find(after.threads.begin(), after.threads.end(), id) == after.threads.end())
            s += "\n  gone thread " + std::to_string(id);
    return s;
}

void NoteEventMakers(HMODULE module)
{
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    realCreateEventA = GetExport<decltype(&CreateEventA)>(kernel32, "CreateEventA");
    realCreateSemaphoreA = GetExport<decltype(&CreateSemaphoreA)>(kernel32, "CreateSemaphoreA");
    PatchImport(module, "kernel32.dll", "CreateEventA", reinterpret_cast<void*>(NotingCreateEventA));
    realCloseHandle = GetExport<decltype(&CloseHandle)>(kernel32, "CloseHandle");
    PatchImport(module, "kernel32.dll", "CreateSemaphoreA", reinterpret_cast<void*>(NotingCreateSemaphoreA));
    PatchImport(module, "kernel32.dll", "CloseHandle", reinterpret_cast<void*>(NotingCloseHandle));
}
