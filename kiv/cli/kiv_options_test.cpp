// What kiv refuses before it opens the port: link options the link kind
// would ignore or could not set, a settings file that is none, and files
// send would not send whole. The port is never touched for them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include "kiv_harness.h"

namespace {

// Makes a file of size bytes that takes no room on disk and is never read.
void Sparse(const std::string& path, off_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, ftruncate(fd, size));
    close(fd);
}

// Each row is a receive with the line up: it must end with the status and
// line, and the port keeps the settings it had.
TEST(KivOptions, RefusesSettingsTheLinkWouldNotUse)
{
    struct Row {
        std::string kiv;
        int status;
        std::string says;
    } rows[] = {
        {"--link ir --speed 115200", 64,
         "--speed: not used with --link ir (the IR link always runs at 9600 baud, 8 data bits, odd parity, 1 "
         "stop "
         "bit, without flow control); leave it out, or give --link cable"},
        {"--link ir --parity even --data-bits 7 --stop-bits 2 --no-xonxoff", 64,
         "--parity, --data-bits, --stop-bits, --no-xonxoff: not used with --link ir"},
        {"--cts", 64, "--cts: not used with the default link (the IR link"},
        {"--settings @ir.ini --speed 38400", 64, "--speed: not used with the link of "},
        {"--link irda --no-cts --xonxoff", 64,
         "--no-cts, --xonxoff: not used with --link irda (the IrDA link always uses RTS/CTS and never "
         "XON/XOFF)"},
        {"--link cable --speed -5", 64, "--speed -5: give the bits per second, a number above 0"},
        {"--link cable --speed 0", 64, "--speed 0: give the bits per second"},
        {"--link cable --speed 4294976896", 64, "speed 4294976896 cannot be set"},
        {"--settings @folder", 7, "folder: is a folder; --settings names the Windows driver's INI file"},
        {"--settings @none.ini", 7, "none.ini: cannot read the settings file: No such file or directory"},
        {"--settings @binary", 7, "binary: not an INI file: binary data (a NUL byte at offset 2)"},
        {"--settings @table.csv", 7,
         "table.csv: not an INI file: line 2 is no [section], key=value or ; comment"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv);
        KivRun run;
        ASSERT_TRUE(run.StartSim("--role send --size 40 --eof --timeout 3000"));
        WriteWhole(run.File("ir.ini"), "; the driver's own file\n[ComPort]\nIRMode=IR\nSpeed=38400\n");
        WriteWhole(run.File("binary"), std::string("[C\0mPort]\n", 10));
        WriteWhole(run.File("table.csv"), "name=given\nAlice,Tokyo\n");
        ASSERT_EQ(0, mkdir(run.File("folder").c_str(), 0755));
        EXPECT_EQ(row.status, run.Kiv("receive -o @out -q --port LINE " + row.kiv));
        run.StopSim();
        EXPECT_NE(std::string::npos, run.Err().find(row.says)) << run.Err();
        EXPECT_TRUE(run.Log("termios").empty());
        EXPECT_FALSE(Exists(run.File("out")));
    }
}

// A file send would cut short is refused with nothing on the line; a NUL as
// its very last byte only ends the block where the file ends anyway.
TEST(KivOptions, SendRefusesAFileThatWouldNotArriveWhole)
{
    struct Row {
        const char* name;
        std::string arg;    // the file named: @data, or @folder and @none that are no files
        std::string file;   // the bytes of data
        off_t sparse;       // above 0: data is a file of this size with no room on disk
        int status;
        std::string says;
        std::string sent;
    } rows[] = {
        {"folder", "@folder", "", 0, 7, "folder: is a folder; send takes one file", ""},
        {"missing", "@none", "", 0, 7, "none: cannot be opened: No such file or directory", ""},
        {"NUL inside", "@data", std::string("abc\0def", 7), 0, 7,
         "data: a NUL byte at offset 3 would end the block there, and the rest would not be sent", ""},
        {"NUL first", "@data", std::string("\0\0", 2), 0, 7, "data: a NUL byte at offset 0", ""},
        {"NUL last", "@data", std::string("abcdef\0", 7), 0, 0, "", "abcdef"},
        {"4 GiB", "@data", "", 0x100000000, 4,
         "data: 4294967296 bytes or more; one block holds at most 4294967294", ""},
        {"4 GiB less 1", "@data", "", 0xFFFFFFFF, 4, "data: 4294967295 bytes or more", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        // kivsim ends once the bytes a row sends have come; a row that sends
        // nothing ends it with the stop file once kiv has gone.
        std::string count = row.sent.empty() ? "" : " --count " + std::to_string(row.sent.size());
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role receive --no-eof-stop" + count));
        ASSERT_EQ(0, mkdir(run.File("folder").c_str(), 0755));
        if (row.sparse)
            Sparse(run.File("data"), row.sparse);
        else
            WriteWhole(run.File("data"), row.file);
        EXPECT_EQ(row.status, run.Kiv("send " + row.arg + " --port LINE " + kCable)) << run.Err();
        if (row.sent.empty())
            run.StopSim();
        else
            run.FinishSim();
        EXPECT_NE(std::string::npos, run.Err().find(row.says)) << run.Err();
        EXPECT_EQ(row.sent, ReadWhole(run.File("rec.bin")));
        EXPECT_EQ(row.status == 0, !run.Log("termios").empty());
    }
}

// Rows without a line, in order in one folder holding the sample as
// addr.kcsv: each spelling every command takes, the options refused
// together, and the help's defaults. out and err are what the output
// starts with; made, when given, a file the row must have written.
TEST(KivOptions, OneSpellingOnEveryCommand)
{
    KivRun run;
    ASSERT_EQ(0,
              system(("mkdir " + run.File("src") + " && cp " KIV_SAMPLES "/* " + run.File("src")).c_str()));
    ASSERT_EQ(0, run.Kiv("from-csv --classic addr.table addr.txt -o ../addr.kcsv", "src")) << run.Err();
    struct Row {
        std::string args;
        int status;
        std::string out, err, made;
    } rows[] = {
        {"to-csv addr.kcsv --encoding utf8 -d a/b/c", 0, "", "", "a/b/c/addr.csv"},
        {"to-csv addr.kcsv -f --encoding Shift_JIS", 0, "", "", "addr.schema"},
        {"from-csv a/b/c/addr.csv --encoding utf-8 -o u.kcsv", 0, "", "", "u.kcsv"},
        {"from-csv addr.csv --encoding cp932 -o s.kcsv", 0, "", "", "s.kcsv"},
        {"to-csv addr.kcsv -d x --bom --encoding cp932", 64, "",
         "kiv: --bom is a UTF-8 byte-order mark; it does not go with --encoding cp932\n", ""},
        {"pull --encoding latin1", 64, "",
         "kiv: --encoding: give utf-8 (or utf8) or cp932 (or shift_jis), not latin1 (kiv pull --help", ""},
        {"diff --nosuch", 64, "", "kiv: The following argument", ""},
        {"to-csv addr.kcsv -d addr.kcsv/x", 8, "", "kiv: addr.kcsv/x: cannot make the folder", ""},
        {"--help", 0, "Moves record tables", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        EXPECT_EQ(row.status, run.Kiv(row.args));
        EXPECT_EQ(row.out, run.Out().substr(0, row.out.size()));
        EXPECT_EQ(row.err, run.Err().substr(0, row.err.size()));
        EXPECT_TRUE(row.made.empty() || Exists(run.File(row.made)));
        EXPECT_TRUE(row.status != 64 || !Exists(run.File("x")));
    }
    // A command's help states the cable's defaults as the cable's, not the IR link's.
    EXPECT_EQ(0, run.Kiv("receive --help"));
    std::string help;
    for (const std::string& word : Words(run.Out()))
        help += word + " ";
    EXPECT_NE(std::string::npos, help.find("with --link cable: XON/XOFF flow control on or off (default on; "
                                           "the IR link: off)"))
        << help;
}

// The statuses a command's help lists, from its "Exit status:" block.
std::set<int> ListedStatuses(const std::string& help)
{
    std::set<int> listed;
    size_t at = help.find("\nExit status:\n");
    std::istringstream lines(at == std::string::npos ? "" : help.substr(at + 14));
    std::string line;
    while (std::getline(lines, line) && line.rfind("  ", 0) == 0)
        if (line.size() > 2 && isdigit((unsigned char)line[2]))
            listed.insert(atoi(line.c_str() + 2));
    return listed;
}

// The widest line of a text in terminal columns (its characters are one wide).
size_t Widest(const std::string& text)
{
    size_t widest = 0, n = 0;
    for (unsigned char c : text) {
        if (c == '\n')
            n = 0;
        else if ((c & 0xC0) != 0x80)
            widest = std::max(widest, ++n);
    }
    return widest;
}

// Each row fails one command as a user can: the status it exits with must
// be one its help lists, and one the row names must not be; every help
// fits an 80-column terminal, as the manual page made from it does.
TEST(KivOptions, HelpListsTheStatusesACommandGives)
{
    KivRun run;
    WriteWhole(run.File("junk.kcsv"), "no table\r\n");
    WriteWhole(run.File("junk.csv"), "a,b\r\n1,2\r\n");
    struct Row {
        std::string command, args;
        int status;
        int unlisted;   // a status the command cannot give
    } rows[] = {
        {"pull", "pull -q -p @none --link cable", 5, -1},
        {"pull", "pull -q -p @none --cts", 64, -1},
        {"push", "push -q -p @none junk.csv", 7, -1},
        {"receive", "receive -q -p @none --settings @none.ini", 7, 6},
        {"send", "send -q -p @none junk.kcsv", 5, 6},
        {"to-csv", "to-csv junk.kcsv -d out", 6, 5},
        {"to-csv", "to-csv none.kcsv", 7, 1},
        {"from-csv", "from-csv junk.csv", 7, 255},
        {"ports", "ports --nosuch", 64, 7},
        {"history", "history --archive @none.sqlite", 0, 8},
        {"archive add", "archive add junk.kcsv --archive @a.sqlite", 6, 5},
        {"archive add", "archive add none.kcsv --archive @a.sqlite", 7, 130},
        {"diff", "diff --archive @none.sqlite", 7, 6},
        {"export", "export 1 --archive @none.sqlite", 7, 5},
        {"show", "show none.kcsv", 7, 5},
        {"show", "show junk.kcsv", 6, 1},
        {"doctor", "doctor -p @none", 5, 6},
        {"sync", "sync junk.csv -q -p @none --yes", 7, -1},
        {"sync", "sync junk.csv -q -p @none --trace @t.json", 64, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        EXPECT_EQ(row.status, run.Kiv(row.args)) << run.Err();
        ASSERT_EQ(0, run.Kiv(row.command + " --help"));
        std::string help = run.Out();
        std::set<int> listed = ListedStatuses(help);
        EXPECT_EQ(1u, listed.count(row.status)) << help;
        EXPECT_EQ(0u, listed.count(row.unlisted)) << help;
        EXPECT_EQ(1u, listed.count(0)) << help;
        EXPECT_LE(Widest(help), 80u) << help;
    }
    // The program's own help has the whole table.
    ASSERT_EQ(0, run.Kiv("--help"));
    EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 64, 130, 255}), ListedStatuses(run.Out()));
    EXPECT_LE(Widest(run.Out()), 80u) << run.Out();
}

}
