// kivsim's command line: the scenario for the handheld model and the run's
// own settings (the pseudo-terminal link, the hand-shake files, the bounds).
#pragma once
#include <cstdint>
#include <string>
#include "sim_handheld.h"

struct SimRun {
    std::string link;     // symlink made to the pseudo-terminal slave
    std::string ready;    // written once the line is up
    std::string record;   // prefix of the record files
    std::string go;       // the role starts once this file exists
    std::string stop;     // the run ends once this file exists
    std::string replay;   // a session kiv recorded, played instead of a role
    uint32_t timeoutMs = 60000;
    uint32_t lingerMs = 300;
    // The handheld goes quiet once this many bytes of its role have crossed
    // the line, both ways together (-1: never), and away (the line hangs up)
    // vanishWaitMs later.
    int64_t vanishAfter = -1;
    uint32_t vanishWaitMs = 0;
    // At the end, after the link is found still this run's, its removal
    // waits up to this long for another run to link the same path: what a
    // run descheduled there does to whoever links the path next.
    uint32_t unlinkPauseMs = 0;
    // Once the role is done, the preload library in the PC's process reports
    // the output undrained until this run has gone: the far end leaves
    // before the PC sees its output drain.
    bool leaveBeforeDrain = false;
    bool help = false;
    bool version = false;
};

extern const char kSimUsage[];

// False with a message in error when the line cannot be understood.
bool ParseSimArgs(int argc, char** argv, SimScenario& scenario, SimRun& run, std::string& error);
