// Recorded link sessions: kiv --trace writes what crossed the line, and
// kivsim --replay plays a recorded session back to kiv running the same
// command (testdata/sessions, made by scripts/record-sessions.sh with the
// same commands), or names the first byte where kiv strays from it.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sstream>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

std::string Session(const std::string& name) { return std::string(KIV_SESSIONS) + "/" + name; }

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// The trace's chunks of one direction, run together as hex; every line
// must be one object.
std::string Chunks(const std::string& trace, const std::string& io, size_t* badLines)
{
    std::istringstream in(trace);
    std::string joined, tag = "\"io\":\"" + io + "\",\"hex\":\"";
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.front() != '{' || line.back() != '}')
            ++*badLines;
        size_t at = line.find(tag);
        if (at != std::string::npos)
            joined += line.substr(at + tag.size(), line.rfind('"') - at - tag.size());
    }
    return joined;
}

// Each row replays one recorded session while kiv runs the command it was
// recorded with: kiv ends as it did then, and a receive holds the block.
// The last row sends another block than the recording holds.
TEST(KivSession, ReplaysARecordedSession)
{
    struct Row {
        const char* session;
        std::string kiv;
        int status;
        bool receives;
        int simStatus;
        const char* simSays;
    } rows[] = {
        {"cable-send", "send @block --link cable --speed 115200 --no-xonxoff", 0, false, 0, ""},
        {"ir-receive-nak", "receive -o @out --link ir", 0, true, 0, ""},
        {"irda-receive", "receive -o @out --link irda --speed 38400", 0, true, 0, ""},
        {"irda-send", "send @block --link irda --speed 38400", 0, false, 0, ""},
        {"ir-send-refused", "send @block --link ir", 255, false, 0, ""},
        {"cable-send", "send @other --link cable --speed 115200 --no-xonxoff", 0, false, 3,
         "offset 100 differs from the recording: recorded 63, got 21"},
    };
    std::string block = ReadWhole(Session("block.txt"));
    ASSERT_EQ(600u, block.size());
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.session) + ": " + row.kiv);
        KivRun run;
        WriteWhole(run.File("block"), block);
        std::string other = block;
        other[100] = '!';
        WriteWhole(run.File("other"), other);
        ASSERT_TRUE(run.StartSim("--replay " + Session(row.session) + ".jsonl"));
        EXPECT_EQ(row.status, run.Kiv(row.kiv + " --port LINE -q")) << run.Err();
        EXPECT_EQ(row.simStatus, run.StopSim());
        std::string said = ReadWhole(run.File("sim.err"));
        EXPECT_NE(std::string::npos, said.find(row.simSays)) << said;
        if (row.receives) {
            EXPECT_TRUE(ReadWhole(run.File("out")) == block + "\x1A");
        }
    }
}

// The trace against kivsim playing its usual roles: one object a line, the
// header and the result first and last, kiv's reads holding what kivsim
// sent and its writes what kivsim took; a trace that cannot be written
// keeps kiv off the port.
TEST(KivSession, TraceHoldsWhatCrossedTheLine)
{
    struct Row {
        std::string sim;
        std::string kiv;
        int status;
        const char* header;
        const char* result;
        std::string port = "LINE";   // @NAME: a link to the line of that name in the run's folder
    } rows[] = {
        {"--baud 9600 --format 8O1 --role ir-receive --probe-answer f4",
         "send @data --link ir --trace @t.jsonl", 0, "\"command\":\"send\",\"port\":\"",
         "\"exit\":0,\"result\":0,\"bytes\":300}"},
        {"--baud 57600 --format 8E1 --role send --eof --data @data",
         "receive -o @out --link cable --speed 57600 --parity even --cts --no-xonxoff --trace @t.jsonl", 0,
         "\"link\":\"cable\",\"speed\":57600,\"parity\":\"even\",\"bits\":8,\"stop\":1,\"flow\":\"rts/cts\"}",
         "\"exit\":0,\"result\":0,\"bytes\":301}"},
        {"--baud 115200 --format 8N1 --role send --eof --data @data",
         "receive -o @out --link cable --trace @missing/t.jsonl", 8, "", ""},
        {"--baud 115200 --format 8N1 --role send --eof --data @data",
         "receive -o @out --link cable --speed 115200 --no-xonxoff --trace @t.jsonl", 0,
         "line\\u00ff\\u00fe\",", "\"exit\":0,\"result\":0,\"bytes\":301}", "@line\xFF\xFE"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv);
        KivRun run;
        WriteWhole(run.File("data"), Pattern(300, 3));
        std::string sim = row.sim;
        size_t at = sim.find("@data");
        if (at != std::string::npos)
            sim.replace(at, 5, run.File("data"));
        ASSERT_TRUE(run.StartSim(sim));
        if (row.port[0] == '@') {
            ASSERT_EQ(0, symlink(run.Line().c_str(), run.File(row.port.substr(1)).c_str()));
        }
        EXPECT_EQ(row.status, run.Kiv(row.kiv + " --port " + row.port + " -q")) << run.Err();
        run.StopSim();
        if (row.status) {
            EXPECT_NE(std::string::npos, run.Err().find("missing: no such folder")) << run.Err();
            EXPECT_TRUE(run.Log("termios").empty());   // the port was never opened
            continue;
        }
        std::string trace = ReadWhole(run.File("t.jsonl"));
        size_t bad = 0;
        std::string in = Chunks(trace, "in", &bad), out = Chunks(trace, "out", &bad);
        EXPECT_EQ(0u, bad) << trace;
        EXPECT_EQ(0u, trace.find("{\"format\":\"kiv-session\",\"version\":1,\"kiv\":\"")) << trace;
        EXPECT_NE(std::string::npos, trace.substr(0, trace.find('\n')).find(row.header)) << trace;
        EXPECT_NE(std::string::npos, trace.find(std::string(row.result) + "\n")) << trace;
        EXPECT_EQ(trace.size() - 1, trace.find('\n', trace.rfind(row.result)));   // the last line
        std::string sent = ReadWhole(run.File("rec.sent")), took = ReadWhole(run.File("rec.bin"));
        ASSERT_FALSE(sent.empty() && took.empty());
        EXPECT_NE(std::string::npos, in.find(Hex(sent)));
        EXPECT_NE(std::string::npos, out.find(Hex(took)));
    }
}

}   // namespace
