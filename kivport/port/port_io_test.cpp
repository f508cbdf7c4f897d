// The port layer's writes while one is still pending. Wine completes COM
// writes at once, so a named pipe with a small buffer stands in for a port
// that is still sending: a write to it stays pending until the other end reads.
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include "port/serial_port.h"

namespace {

struct Pipe {
    HANDLE out = INVALID_HANDLE_VALUE;   // the port's side, overlapped
    HANDLE in = INVALID_HANDLE_VALUE;    // the other end
};

Pipe OpenPipe(void)
{
    static int serial;
    std::string name = "\\\\.\\pipe\\kivport_port_io_" + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(++serial);
    Pipe p;
    p.out = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64, 64, 0, nullptr);
    p.in = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return p;
}

void ClosePipe(Pipe& p)
{
    CloseHandle(p.in);
    CloseHandle(p.out);
}

std::string Pattern(size_t n, char first)
{
    std::string s(n, first);
    for (size_t i = 0; i < n; i++)
        s[i] = (char)(first + i % 23);
    return s;
}

std::string ReadAll(HANDLE in, size_t n)
{
    std::string got(n, '\0');
    size_t have = 0;
    DWORD r = 0;
    while (have < n && ReadFile(in, &got[have], (DWORD)(n - have), &r, nullptr) && r)
        have += r;
    got.resize(have);
    return got;
}

// A write that finds one pending waits for it, as long as its bytes need on
// the line and a second more; what does not complete by then is cancelled
// and the new write fails.
TEST(PortWrites, OneInFlight)
{
    struct Row {
        const char* what;
        size_t first;
        int readAfterMs;   // the other end reads everything from then on; -1: never
        int32_t firstResult, secondResult;
        DWORD waitFrom, waitTo;   // how long the second write took, ms
    } rows[] = {
        {"both fit at once", 16, -1, 16, 8, 0, 500},
        {"the pending one is taken while the next waits", 4096, 300, 0, 8, 250, 1300},
        // 4096 bytes at 115200 baud, 11 bits a byte: 391 ms, and a second more.
        {"the pending one never completes", 4096, -1, 0, -1, 1350, 2900},
    };
    portParams.line.baudRate = 115200;
    for (const Row& row : rows) {
        Pipe p = OpenPipe();
        ASSERT_NE(INVALID_HANDLE_VALUE, p.out);
        ASSERT_NE(INVALID_HANDLE_VALUE, p.in);
        transferState.writeOverlapped = IoOverlapped();
        transferState.writeOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::string first = Pattern(row.first, 'a'), second = Pattern(8, 'A');
        std::string got;
        std::thread reader;
        if (row.readAfterMs >= 0) {
            reader = std::thread([&] {
                Sleep(row.readAfterMs);
                got = ReadAll(p.in, first.size() + second.size());
            });
        }
        EXPECT_EQ(row.firstResult, WritePort(p.out, (const uint8_t*)first.data(), (uint32_t)first.size()))
            << row.what;
        DWORD start = GetTickCount();
        int32_t secondResult = WritePort(p.out, (const uint8_t*)second.data(), (uint32_t)second.size());
        DWORD took = GetTickCount() - start;
        EXPECT_EQ(row.secondResult, secondResult) << row.what;
        EXPECT_GE(took, row.waitFrom) << row.what;
        EXPECT_LE(took, row.waitTo) << row.what;
        if (reader.joinable()) {
            reader.join();
            EXPECT_TRUE(got == first + second) << row.what << ": " << got.size() << " bytes";
        }
        ClosePipe(p);
        CloseHandle(transferState.writeOverlapped.hEvent);
    }
}

// ClosePort's step: a write still pending is ended, bounded, before the
// handles go, and the next write does not wait for it.
TEST(PortWrites, EndingAPendingWrite)
{
    portParams.line.baudRate = 9600;
    Pipe p = OpenPipe();
    transferState.writeOverlapped = IoOverlapped();
    transferState.writeOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::string block = Pattern(4096, 'a');
    ASSERT_EQ(0, WritePort(p.out, (const uint8_t*)block.data(), (uint32_t)block.size()));
    DWORD start = GetTickCount();
    EndPendingWrite(p.out);
    EXPECT_LE(GetTickCount() - start, 1500u);
    // Bytes the pipe took before the end may fill it, so the next write may
    // pend in turn, but it does not wait for the one that was ended.
    start = GetTickCount();
    EXPECT_NE(-1, WritePort(p.out, (const uint8_t*)"abcdefgh", 8));
    EXPECT_LE(GetTickCount() - start, 500u) << "no write was left in flight";
    EndPendingWrite(p.out);
    ClosePipe(p);
    CloseHandle(transferState.writeOverlapped.hEvent);
}

}   // namespace
