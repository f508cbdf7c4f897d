// Cable transfers through kivport.dll under Wine against kivsim on a paced
// pseudo-terminal: send and receive throughput at 9600, 38400 and 115200 baud
// as a ratio of the line rate of the same settings (8N1: 10 bits a byte), and
// the process's peak memory as received blocks grow. Run it with
// scripts/bench-link.sh, which provides Wine, the display and the preload
// library that makes the pseudo-terminal behave as a serial port.
//   kivbench_link [SECONDS]   line time per measured transfer (default 8)
#include <windows.h>
#include <psapi.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "kivtest.h"

namespace {

const int kPort = 7;

typedef HGLOBAL(WINAPI* ReceiveFn)(const void* setup, int16_t* result);
typedef int16_t(WINAPI* SendFn)(const void* setup, HGLOBAL block);
ReceiveFn receiveData;
SendFn sendData;

// The caller's 18-byte PortSetup: cable, the given speed, 8N1, no flow control.
std::vector<uint8_t> CableSetup(int32_t speed)
{
    const int fields[] = {kPort, 0, speed & 0xFFFF, (speed >> 16) & 0xFFFF, 0, 8, 1, 0, 0};
    std::vector<uint8_t> r;
    for (int v : fields) {
        r.push_back((uint8_t)(v & 0xFF));
        r.push_back((uint8_t)(v >> 8));
    }
    return r;
}

double Seconds()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / f.QuadPart;
}

double PeakMegabytes()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.PeakWorkingSetSize / 1048576.0;
}

// First and last time of kivsim's events of one kind, in seconds.
bool EventSpan(const std::string& log, const char* kind, double& first, double& last)
{
    bool any = false;
    size_t at = 0;
    std::string tag = std::string(" ") + kind + " ";
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.find(tag) != std::string::npos) {
            double t = atof(line.c_str()) / 1000;
            if (!any)
                first = t;
            last = t;
            any = true;
        }
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return any;
}

// One receive of a block kivsim sends at the line rate once told to go.
void MeasureReceive(int32_t baud, size_t bytes)
{
    KivSim sim;
    std::string flags = "--baud " + std::to_string(baud) + " --role send --pattern binary --eof --size " +
                        std::to_string(bytes) + " --go /tmp/kivbench-go-" +
                        std::to_string(GetCurrentProcessId());
    if (!StartKivsim(sim, kPort, flags)) {
        printf("kivsim did not start\n");
        return;
    }
    std::vector<uint8_t> setup = CableSetup(baud);
    FocusWindow owner;
    std::string go = "Z:\\tmp\\kivbench-go-" + std::to_string(GetCurrentProcessId());
    WriteFileBytes(go, "go");
    int16_t code = -1;
    double t0 = Seconds();
    HGLOBAL block = receiveData(setup.data(), &code);
    double t1 = Seconds();
    DeleteFileA(go.c_str());
    size_t got = 0;
    if (block) {
        got = strlen(static_cast<const char*>(GlobalLock(block)));
        GlobalUnlock(block);
        GlobalFree(block);
    }
    WaitKivsimRecord(sim, 10000);
    double lineRate = baud / 10.0;
    printf("receive %6d baud %7zu bytes  code %3d  %6.2f s  %8.0f B/s  %.3f of line rate\n", (int)baud, got,
           code, t1 - t0, got / (t1 - t0), got / (t1 - t0) / lineRate);
}

// One send of a block to kivsim, which takes it off the line at the line rate.
void MeasureSend(int32_t baud, size_t bytes)
{
    KivSim sim;
    std::string flags = "--baud " + std::to_string(baud) + " --role receive --no-eof-stop --count " +
                        std::to_string(bytes);
    if (!StartKivsim(sim, kPort, flags)) {
        printf("kivsim did not start\n");
        return;
    }
    std::string data(bytes, 'k');
    for (size_t i = 0; i < bytes; i++)
        data[i] = (char)('A' + i % 26);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes + 1);
    memcpy(GlobalLock(block), data.c_str(), bytes + 1);
    GlobalUnlock(block);
    std::vector<uint8_t> setup = CableSetup(baud);
    FocusWindow owner;
    double t0 = Seconds();
    int16_t code = sendData(setup.data(), block);
    double t1 = Seconds();
    GlobalFree(block);
    WaitKivsimRecord(sim, 10000);
    double lineRate = baud / 10.0;
    double first = 0, last = 0;
    bool spanned = EventSpan(KivsimLog(sim), "rx", first, last);
    size_t got = KivsimReceived(sim).size();
    printf("send    %6d baud %7zu bytes  code %3d  %6.2f s  %8.0f B/s  %.3f of line rate", (int)baud, got,
           code, t1 - t0, got / (t1 - t0), got / (t1 - t0) / lineRate);
    if (spanned && last > first)
        printf("  (line busy %.3f)", (got - 1) / (last - first) / lineRate);
    printf("\n");
}

// Peak memory after receiving blocks of growing size, unpaced.
void MeasureMemory()
{
    double base = PeakMegabytes();
    printf("peak working set before the memory runs: %.1f MB\n", base);
    for (size_t kb : {64, 256, 1024}) {
        KivSim sim;
        StartKivsim(sim, kPort,
                    "--baud 0 --role send --pattern binary --eof --size " + std::to_string(kb * 1024));
        std::vector<uint8_t> setup = CableSetup(115200);
        FocusWindow owner;
        int16_t code = -1;
        HGLOBAL block = receiveData(setup.data(), &code);
        size_t got = block ? GlobalSize(block) : 0;
        double peak = PeakMegabytes();
        if (block)
            GlobalFree(block);
        WaitKivsimRecord(sim, 10000);
        printf("receive %5zu KB block: code %d, block %.2f MB, peak working set %.1f MB (+%.1f MB)\n", kb,
               code, got / 1048576.0, peak, peak - base);
    }
}

}   // namespace

int main(int argc, char** argv)
{
    double lineSeconds = argc > 1 ? atof(argv[1]) : 8;
    HMODULE dll = LoadKivLibrary("kivport.dll");
    if (!dll) {
        printf("cannot load kivport.dll\n");
        return 1;
    }
    receiveData = GetExport<ReceiveFn>(dll, "_KivReceiveData@8");
    sendData = GetExport<SendFn>(dll, "_KivSendData@8");
    WidenComOpens(dll);
    printf("cable, 8N1, %.0f s of line time per transfer; time from the call to its return\n", lineSeconds);
    for (int32_t baud : {9600, 38400, 115200}) {
        size_t bytes = (size_t)(baud / 10.0 * lineSeconds);
        MeasureReceive(baud, bytes);
        MeasureSend(baud, bytes);
    }
    MeasureMemory();
    return 0;
}
