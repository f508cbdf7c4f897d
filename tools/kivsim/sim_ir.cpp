// The framed IR protocol roles of the handheld: the protocol model of the
// simulated line (ir_handheld), driven here by kivsim's clock. The block the
// handheld took from the PC is the role's received bytes; every frame it
// puts on the line goes through the output queue and the pacer like any
// other byte.
#include "sim_handheld.h"

namespace {

uint64_t Ms(uint64_t us) { return us / 1000; }

void MoveOutput(SimHandheld& h, uint64_t nowUs)
{
    std::string bytes = IrHandheldTakeOutput(h.ir, Ms(nowUs));
    h.outQueue.insert(h.outQueue.end(), bytes.begin(), bytes.end());
}

// A handheld that has taken the last block keeps answering a while: a PC
// whose ACK was lost, or that was told NAK, announces the block again.
const uint64_t QUIET_AFTER_LAST_US = 2500000;

bool Settled(const SimHandheld& h, uint64_t nowUs)
{
    if (!IrHandheldFinished(h.ir))
        return false;
    return h.ir.sends || !h.ir.done || h.ir.cancelled || nowUs - h.lastReceivedUs >= QUIET_AFTER_LAST_US;
}

void CheckEnd(SimHandheld& h, uint64_t nowUs)
{
    if (!Settled(h, nowUs) || !h.outQueue.empty() || !h.ir.out.empty())
        return;
    std::string faults;
    for (IrFault f : h.ir.faultsUsed)
        faults += std::string(faults.empty() ? "" : ",") + IrFaultName(f);
    HandheldEvent(h, nowUs, "ir faults=" + (faults.empty() ? std::string("none") : faults));
    HandheldFinish(h, h.ir.done ? "ir-done" : h.ir.cancelled ? "ir-cancelled" : "ir-gave-up", nowUs);
}

}   // namespace

void IrRoleStart(SimHandheld& h, uint64_t nowUs)
{
    const SimScenario& s = h.scenario;
    h.ir = IrHandheld();
    h.ir.sends = s.role == ROLE_IR_SEND;
    h.ir.block.assign(s.sendData.begin(), s.sendData.end());
    h.ir.plan = s.irPlan;
    h.ir.seed = s.irSeed;
    h.ir.rate = s.irRate;
    IrHandheldStart(h.ir, Ms(nowUs));
    MoveOutput(h, nowUs);
}

void IrRoleReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs)
{
    for (size_t i = 0; i < n; i++)
        IrHandheldByte(h.ir, data[i], Ms(nowUs));
    h.lastReceivedUs = nowUs;
    if (h.received.size() != h.ir.received.size())   // kept current: a stop may come at any time
        h.received.assign(h.ir.received.begin(), h.ir.received.end());
    MoveOutput(h, nowUs);
    CheckEnd(h, nowUs);
}

void IrRoleTick(SimHandheld& h, uint64_t nowUs)
{
    IrHandheldTime(h.ir, Ms(nowUs));
    MoveOutput(h, nowUs);
    CheckEnd(h, nowUs);
}

uint64_t IrRoleNextTickUs(const SimHandheld& h)
{
    uint64_t ms = IrHandheldNextWake(h.ir);
    uint64_t next = ms == UINT64_MAX ? UINT64_MAX : ms * 1000;
    if (h.ir.done && !h.ir.sends && h.lastReceivedUs + QUIET_AFTER_LAST_US < next)
        next = h.lastReceivedUs + QUIET_AFTER_LAST_US;
    return next;
}

void IrRoleOutputDrained(SimHandheld& h, uint64_t nowUs) { CheckEnd(h, nowUs); }
