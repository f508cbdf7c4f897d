// receive, send and ports: one block to or from a file, and the ports present.
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include "kiv_commands.h"
#include "show_width.h"
#include "held_signals.h"
#include "kiv_convert.h"
#include "link_loop.h"
#include "port_errors.h"
#include "posix_port.h"
#include "send_file.h"
#include "session_trace.h"

// A message may carry a table's text (a cell, a title, a name): it reaches
// the terminal as show prints cells, without control characters.
void Complain(const std::string& line) { fprintf(stderr, "kiv: %s\n", OneLine(line).c_str()); }

namespace {

// The exit status of a transfer, with its message on stderr.
int TransferStatus(const TransferRequest& request, const TransferOutcome& out)
{
    const char* what = request.sending ? "send" : "receive";
    if (out.openError) {
        Complain(PortOpenMessage(request.portPath, out.openError, out.sysError));
        return out.resultCode;
    }
    if (out.signal) {
        Complain(CancelMessage(out.signal));
        return 128 + out.signal;
    }
    if (out.lineLost) {
        Complain(std::string(what) + " failed: the line was lost (the handheld or the adapter went away)");
        return RC_LINE_ERROR;
    }
    if (out.resultCode) {
        Complain(std::string(what) + " failed: " + std::to_string(out.resultCode) + " (" +
                 ResultMeaning(out.resultCode) + ")");
        return out.resultCode;
    }
    return KIV_EXIT_OK;
}

}   // namespace

int HeldSignalStatus(const std::string& said)
{
    int signo = TakeHeldSignal();
    if (signo == 0) {
        ReleaseTerminationSignals();
        return KIV_EXIT_OK;
    }
    Complain(CancelMessage(signo) + said);
    return 128 + signo;
}

int LinkTransfer(const CommonOptions& o, bool sending, const std::vector<uint8_t>& block,
                 std::vector<uint8_t>* received)
{
    if (o.link.port.empty()) {
        Complain("no port: give --port PATH or set KIV_PORT (kiv ports lists them)");
        return KIV_EXIT_USAGE;
    }
    TransferRequest request;
    std::string error, notice;
    SettingsFault fault = ResolvePortParams(o.link, &request.params, &error, &notice);
    if (fault != SETTINGS_OK) {
        Complain(error);
        return fault == SETTINGS_BAD_FILE ? KIV_EXIT_READ : KIV_EXIT_USAGE;
    }
    // One warning a line: the port number, then each value read as the driver reads it.
    for (size_t at = 0; at < notice.size();) {
        size_t end = std::min(notice.find('\n', at), notice.size());
        Complain(notice.substr(at, end - at));
        at = end + 1;
    }
    // An output like the others: refused before the port opens when it
    // exists (without --force), is a link or cannot be written.
    if (!o.trace.empty()) {
        int status = CheckOutputFile(o.trace, o.force, &error);
        if (status == KIV_EXIT_OK && !TraceOpen(o.trace, o.force, &error))
            status = KIV_EXIT_WRITE;
        if (status) {
            Complain(error);
            return status;
        }
    }
    request.portPath = o.link.port;
    request.sending = sending;
    request.block = block;
    request.progress = !o.quiet && isatty(STDERR_FILENO);
    request.waitLimitMs = (uint32_t)o.link.timeoutSeconds * 1000;
    TraceStart(o.command, request.portPath, request.params);
    TransferOutcome out = RunTransfer(request);
    int status = TransferStatus(request, out);
    TraceEnd(status, out.resultCode, out.bytesDone);
    if (status == KIV_EXIT_OK && received) {
        *received = std::move(out.received);
        return status;   // the command takes a held signal once the block is saved
    }
    if (out.signal)
        return status;
    // A send that ended, or a transfer that failed, has nothing left to save.
    int held = HeldSignalStatus(
        status == KIV_EXIT_OK ? " too late to stop the send: the handheld has the block" : "");
    return held ? held : status;
}

// The output is checked before the port opens; a block that arrives and
// still cannot be written is kept under another name.
int ReceiveCommand(const CommonOptions& o, const std::string& outPath)
{
    std::string error;
    int status = CheckOutputFile(outPath, o.force, &error);
    if (status) {
        Complain(error);
        return status;
    }
    std::vector<uint8_t> block;
    status = LinkTransfer(o, false, {}, &block);
    if (status)
        return status;
    // As pull does, the file written is listed on stdout, a kept copy too.
    status = WriteFileAtomically(outPath, block, o.force, &error);
    if (status) {
        std::string kept = KeepBlock(std::string(block.begin(), block.end()), outPath);
        if (!kept.empty())
            std::cout << kept << std::endl;
        Complain(error + (kept.empty() ? "; the received block could not be saved anywhere"
                                       : "; the received block is kept in " + kept));
        int held = HeldSignalStatus("");
        return held ? held : status;
    }
    std::cout << outPath << std::endl;
    if (int held = HeldSignalStatus("; the block is kept in " + outPath))
        return held;
    return ArchiveReceived(o, block, {outPath});
}

int SendCommand(const CommonOptions& o, const std::string& inPath)
{
    std::vector<uint8_t> block;
    std::string error;
    int status = ReadSendFile(inPath, &block, &error);
    if (status != KIV_EXIT_OK) {
        Complain(error);
        return status;
    }
    return LinkTransfer(o, true, block, nullptr);
}

int PortsCommand(void)
{
    for (const std::string& port : ListSerialPorts())
        std::cout << port << "\n";
    return KIV_EXIT_OK;
}
