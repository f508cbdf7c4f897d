// kiv: the handheld's record tables to and from this computer over a serial
// cable or infrared adapter. One command line, parsed by CLI11; each command
// is a thin front over the link loop and the conversion library.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <map>
#include "kiv_commands.h"
#include "help_text.h"
#include "kiv_convert.h"
#include "show_command.h"
#include "table_csv_read.h"

namespace {

// Every spelling --encoding takes, each to the one the commands compare.
const std::map<std::string, std::string> kEncodings = {
    {"utf-8", "utf-8"}, {"utf8", "utf-8"}, {"cp932", "cp932"}, {"shift_jis", "cp932"}};

CLI::Option* AddEncoding(CLI::App* cmd, std::string& encoding, const std::string& what)
{
    CLI::Validator spelling(
        [](std::string& value) {
            auto it = kEncodings.find(CLI::detail::to_lower(value));
            if (it == kEncodings.end())
                return "give utf-8 (or utf8) or cp932 (or shift_jis), not " + value;
            value = it->second;
            return std::string();
        },
        "");
    return cmd->add_option("--encoding", encoding, what)->transform(spelling);
}

void AddLinkOptions(CLI::App* cmd, CommonOptions& o)
{
    LinkOptions& l = o.link;
    cmd->add_option("-p,--port", l.port, "serial port device, e.g. /dev/ttyUSB0 (default: $KIV_PORT)");
    cmd->add_option("--settings", l.settingsFile,
                    "read the link settings from the Windows driver's INI file, section [ComPort], as the "
                    "driver reads it: IRMode=IR (else the cable), IrDA=YES or NO, Speed, Parity=NONE, ODD or "
                    "EVEN, Length (data bits), Stop (stop bits), CSMon=ON or OFF (RTS/CTS), XFlow=ON or OFF "
                    "(XON/XOFF); texts are exact, and any other text is ON for CSMon and XFlow, NONE for "
                    "Parity (a warning says so); PortNo, the COM number, is ignored");
    cmd->add_option("--link", l.link,
                    "cable, ir (serial infrared adapter: always 9600 8O1 without flow control) or irda "
                    "(always RTS/CTS, never XON/XOFF) (default: ir)")
        ->check(CLI::IsMember({"cable", "ir", "irda"}));
    // The frame and flow options only apply to the cable: the default IR
    // link has fixed settings, so the defaults are stated as the cable's.
    cmd->add_option("--speed", l.speed, "with --link cable: bits per second (default 9600)");
    cmd->add_option("--parity", l.parity,
                    "with --link cable: none, odd or even (default none; the IR link: odd)")
        ->check(CLI::IsMember({"none", "odd", "even"}));
    cmd->add_option("--data-bits", l.dataBits, "with --link cable: 7 or 8 (default 8)")
        ->check(CLI::IsMember({7, 8}));
    cmd->add_option("--stop-bits", l.stopBits, "with --link cable: 1 or 2 (default 1)")
        ->check(CLI::IsMember({1, 2}));
    cmd->add_flag("--cts,!--no-cts", l.cts,
                  "with --link cable: RTS/CTS flow control on or off (default off; the IR link: off)");
    cmd->add_flag("--xonxoff,!--no-xonxoff", l.xonXoff,
                  "with --link cable: XON/XOFF flow control on or off (default on; the IR link: off)");
    cmd->add_option(
           "--timeout", l.timeoutSeconds,
           "seconds to wait for the handheld's first byte (default: the link's own limit, 6 minutes)")
        ->check(CLI::Range(1L, 86400L));
    cmd->add_flag("-q,--quiet", o.quiet, "no progress line");
    cmd->add_option(
        "--trace", o.trace,
        "record the session in FILE as JSON Lines (bytes both ways with their times, the "
        "link's states, the result), refused when it exists unless --force; kivsim --replay plays it back");
}

void AddUtf8(CLI::App* cmd, CommonOptions& o)
{
    cmd->add_flag("--utf8", o.utf8,
                  "with --classic: layout and record files in UTF-8 instead of code page 932");
}

// pull and to-csv: the table CSV by default, the Windows application's files on request.
void AddTableCsv(CLI::App* cmd, CommonOptions& o)
{
    cmd->add_flag("--classic", o.classic,
                  "the Windows application's files instead (layout, record and length files; "
                  "see " KIV_DOC_DIR "/docs/formats.md)");
    cmd->add_flag("--bom", o.bom, "start the table CSV with a UTF-8 byte-order mark");
    AddEncoding(cmd, o.encoding,
                "the table CSV's encoding: utf-8 (default, or utf8) or cp932 (or shift_jis)");
}

void AddForce(CLI::App* cmd, CommonOptions& o)
{
    cmd->add_flag("-f,--force", o.force, "replace output files that exist");
}

// A byte-order mark is UTF-8's: with cp932 it would be silently dropped.
int CheckBom(const CommonOptions& o)
{
    if (!o.bom || o.encoding != "cp932")
        return KIV_EXIT_OK;
    Complain("--bom is a UTF-8 byte-order mark; it does not go with --encoding cp932");
    return KIV_EXIT_USAGE;
}

// from-csv's and push's inputs: the table CSV, or with --classic the
// application's layout and CSV files.
struct TableInputs {
    std::string first, second;
    bool classic = false;
    std::string encoding;
    std::string missingPictures = "refuse";
    TableReadOptions read;
};

CLI::Option* AddTableInputs(CLI::App* cmd, TableInputs& t)
{
    CLI::Option* file = cmd->add_option("FILE", t.first,
                                        "NAME.csv, the table CSV with NAME.schema beside it; with --classic, "
                                        "the application's layout file");
    cmd->add_option("CSV", t.second, "with --classic: the application's CSV file");
    cmd->add_flag("--classic", t.classic, "read the Windows application's layout and CSV files");
    AddEncoding(
        cmd, t.encoding,
        "the CSV's encoding, utf-8 (or utf8) or cp932 (or shift_jis) (default: found from its bytes)");
    cmd->add_option("--missing-pictures", t.missingPictures,
                    "with --classic: a picture that cannot be read, or a name that is no .jpg, .jpeg, "
                    ".gif or .png file, refuses the table (refuse, the default) or leaves its cell empty "
                    "with a warning (empty)")
        ->check(CLI::IsMember({"refuse", "empty"}));
    cmd->add_flag("--strict", t.read.strict, "refuse the table when a value would change (a warning)");
    cmd->add_flag("--decimal-comma", t.read.decimalComma,
                  "number cells have ',' as their decimal separator (0,25), as spreadsheets of some "
                  "locales save them; a '.' is then refused");
    return file;
}

CLI::Option* AddArchive(CLI::App* cmd, std::string& path)
{
    return cmd->add_option("--archive", path,
                           "the archive of pulled tables, an SQLite file (default: $KIV_ARCHIVE, else "
                           "$XDG_DATA_HOME/kiv/archive.sqlite, else ~/.local/share/kiv/archive.sqlite)");
}

// pull and receive: every table received is kept in the archive.
void AddArchiving(CLI::App* cmd, CommonOptions& o)
{
    AddArchive(cmd, o.archive);
    cmd->add_flag("--no-archive", o.noArchive, "do not keep the table in the archive");
}

// One file for the table CSV, two with --classic; the exit status when not.
int CheckTableInputs(TableInputs& t, CommonOptions& o)
{
    bool utf8 = o.utf8;
    o.strict = t.read.strict;
    o.decimalComma = t.read.decimalComma;
    if (t.second.empty() == t.classic) {
        Complain(t.classic ? "--classic takes LAYOUT and CSV"
                           : "give NAME.csv alone, or --classic LAYOUT CSV");
        return KIV_EXIT_USAGE;
    }
    if (t.classic && !t.encoding.empty()) {
        Complain("--encoding is for the table CSV; --classic files are code page 932, or UTF-8 with --utf8");
        return KIV_EXIT_USAGE;
    }
    if (!t.classic && t.missingPictures != "refuse") {
        Complain("--missing-pictures is for --classic files; the table CSV refuses a picture it cannot read");
        return KIV_EXIT_USAGE;
    }
    o.missingPicturesEmpty = t.missingPictures == "empty";
    if (!t.classic && utf8) {
        Complain("--utf8 is for --classic files; the table CSV's encoding is found, or given by --encoding");
        return KIV_EXIT_USAGE;
    }
    t.read.encoding = t.encoding == "utf-8"   ? ENCODING_UTF8
                      : t.encoding == "cp932" ? ENCODING_CP932
                                              : ENCODING_DETECT;
    return KIV_EXIT_OK;
}

// diff's first argument is a version when it is a number, and always when
// --name gives the table: the ids then move up one place.
int DiffTargets(DiffArgs* a, const std::string& givenName)
{
    bool number = !a->name.empty() && a->name.find_first_not_of("0123456789") == std::string::npos;
    if (a->name.empty() ? givenName.empty() : !number && givenName.empty())
        return KIV_EXIT_OK;
    if (!a->name.empty() && (!number || a->second || strtol(a->name.c_str(), nullptr, 10) <= 0)) {
        Complain("diff takes NAME or --name NAME, then at most two version IDs, not " + a->name);
        return KIV_EXIT_USAGE;
    }
    if (!a->name.empty()) {
        a->second = a->first;
        a->first = strtol(a->name.c_str(), nullptr, 10);
    }
    a->name = givenName;
    return KIV_EXIT_OK;
}

}

int main(int argc, char** argv)
{
    CLI::App app{"Moves record tables between the handheld and this computer over a serial cable or a "
                 "serial infrared adapter, and converts them to and from CSV.",
                 "kiv"};
    app.formatter(WrappingFormatter());
    app.footer(AllExitStatuses());
    // The parser's own errors read as every other error of kiv does.
    app.failure_message([](const CLI::App* from, const CLI::Error& e) {
        std::vector<CLI::App*> given = from->get_subcommands();
        std::string help = given.empty() ? "kiv --help" : "kiv " + given.front()->get_name() + " --help";
        return "kiv: " + std::string(e.what()) + " (" + help + " lists the options)\n";
    });
    app.set_version_flag("--version", "kiv " KIV_VERSION);
    app.require_subcommand(1);

    CommonOptions o;
    std::string dir = ".", outPath, inPath;

    CLI::App* pull = app.add_subcommand("pull",
                                        "receive one table from the handheld into DIR: NAME.kcsv as "
                                        "received, the table CSV NAME.csv, its schema NAME.schema and the "
                                        "pictures in NAME-pictures/");
    std::string name;
    pull->add_option("-d,--dir", dir,
                     "folder for the files, made when missing (default: the current folder)");
    pull->add_option("-n,--name", name,
                     "NAME, the files' name without extension (default: the table's name from the handheld, "
                     "or table)");
    AddLinkOptions(pull, o);
    AddTableCsv(pull, o);
    AddUtf8(pull, o);
    AddForce(pull, o);
    AddArchiving(pull, o);

    TableInputs pushInputs, fromInputs;
    CLI::App* push = app.add_subcommand(
        "push", "convert the table CSV (or with --classic LAYOUT and CSV) into a Kcsv table and send it, or "
                "send a version of the archive");
    long pushId = 0;
    AddTableInputs(push, pushInputs)
        ->excludes(push->add_option("--from-archive", pushId,
                                    "send version ID of the archive (kiv history lists them) instead, "
                                    "byte for byte as it was received (with --archive A, the ID alone "
                                    "will do: push --archive A ID)")
                       ->check(CLI::PositiveNumber));
    AddArchive(push, o.archive);
    AddLinkOptions(push, o);
    AddUtf8(push, o);
    push->add_flag("-f,--force", o.force,
                   "push the table CSV even when the archive shows the handheld's table changed since "
                   "its base, or when it removes more than half of the base's records; replace the "
                   "trace file");

    CLI::App* receive = app.add_subcommand("receive", "receive one block from the handheld into a file");
    outPath = "received.kcsv";
    receive->add_option("-o,--output", outPath, "the file to write (default: received.kcsv)");
    AddLinkOptions(receive, o);
    AddForce(receive, o);
    AddArchiving(receive, o);

    CLI::App* send = app.add_subcommand(
        "send", "send FILE to the handheld as one block (a NUL byte ends a block: a file with "
                "one before its last byte is refused)");
    send->add_option("FILE", inPath, "the block to send")->required();
    AddLinkOptions(send, o);
    AddForce(send, o);

    std::string kcsvOut;
    CLI::App* toCsv = app.add_subcommand("to-csv",
                                         "convert a Kcsv file into the table CSV, its schema and its "
                                         "pictures in DIR, named after FILE without its extension");
    toCsv->add_option("FILE", inPath, "the Kcsv file")->required();
    toCsv->add_option("-d,--dir", dir,
                      "folder for the files, made when missing (default: the current folder)");
    AddTableCsv(toCsv, o);
    AddUtf8(toCsv, o);
    AddForce(toCsv, o);
    AddArchive(toCsv, o.archive)
        ->description(
            "the archive whose version FILE is, named as the schema's base (default: $KIV_ARCHIVE, else "
            "$XDG_DATA_HOME/kiv/archive.sqlite, else ~/.local/share/kiv/archive.sqlite)");

    CLI::App* fromCsv = app.add_subcommand(
        "from-csv", "convert the table CSV (or with --classic LAYOUT and CSV) into a Kcsv file");
    AddTableInputs(fromCsv, fromInputs)->required();
    fromCsv->add_option("-o,--output", kcsvOut, "the Kcsv file (default: CSV with the extension .kcsv)");
    AddUtf8(fromCsv, o);
    AddForce(fromCsv, o);

    MergeArgs mergeArgs;
    CLI::App* merge = app.add_subcommand(
        "merge", "merge the table CSV with the handheld's later version of its table, over the archived "
                 "version the CSV was made from: a change on one side is taken, a record changed on both "
                 "apart (or changed on one, deleted on the other) is a conflict, kept twice and marked; "
                 "exit 1 when there are conflicts");
    merge->add_option("CSV", mergeArgs.csv, "NAME.csv, the table CSV with NAME.schema beside it")->required();
    merge->add_option("--with", mergeArgs.with, "merge with version ID instead of the table's latest")
        ->check(CLI::PositiveNumber);
    merge->add_option("--take", mergeArgs.take, "resolve every conflict one way: pc or handheld")
        ->check(CLI::IsMember({"pc", "handheld"}));
    AddArchive(merge, mergeArgs.archive);

    SyncArgs syncArgs;
    CLI::App* sync = app.add_subcommand(
        "sync",
        "the whole round for a table CSV: pull the handheld's table into the archive (the CSV stays "
        "as it is), merge the CSV with it as kiv merge does, stop on conflicts (exit 1, the merged CSV "
        "marked to review), else push the merged table and record what was sent as the CSV's base; "
        "each transfer is asked for on the terminal first");
    sync->add_option("CSV", syncArgs.csv, "NAME.csv, the table CSV with NAME.schema beside it")->required();
    sync->add_flag("-y,--yes", syncArgs.yes,
                   "do not wait for Enter before each transfer (for scripts): the handheld must be ready");
    sync->add_option("--take", syncArgs.take, "resolve every conflict one way, as merge does: pc or handheld")
        ->check(CLI::IsMember({"pc", "handheld"}));
    AddArchive(sync, o.archive);
    AddLinkOptions(sync, o);
    sync->get_option("--trace")->description(
        "not taken here: the round makes two transfers; trace them with pull and push");
    sync->add_flag("-f,--force", o.force,
                   "push even when the merged table removes more than half of the records the handheld sent");

    CLI::App* ports = app.add_subcommand("ports",
                                         "list the serial ports present: /dev/serial/by-id names with "
                                         "their targets, then ttyUSB, ttyACM and ttyS devices");

    std::string historyArchive, historyName;
    CLI::App* history = app.add_subcommand(
        "history",
        "list the archive's pulls, one line each: its ID, when (UTC), the table's name, its "
        "records and size; a pull of a table unchanged since its last version says which it equals");
    history->add_option("NAME", historyName, "only the pulls of this table");
    AddArchive(history, historyArchive);

    std::string addArchive;
    std::vector<std::string> addFiles;
    CLI::App* archiveCmd = app.add_subcommand("archive", "work on the archive of pulled tables");
    archiveCmd->require_subcommand(1);
    CLI::App* archiveAdd = archiveCmd->add_subcommand(
        "add", "store Kcsv files (a rescue copy, an older backup) as versions in the archive, each pulled "
               "at the file's time from the port \"file\"; a table unchanged since its last version is "
               "recorded as equal to it, as a pull of it would be. Each stored version is listed as history "
               "lists it; exit 6 when a file is no table, 7 when one cannot be read, 8 when the archive "
               "cannot be written");
    archiveAdd->add_option("FILE", addFiles, "the Kcsv files, in the order to store them")->required();
    AddArchive(archiveAdd, addArchive);

    DiffArgs diffArgs;
    CLI::App* diff = app.add_subcommand(
        "diff", "the records added (+), removed (-) and changed (~, a line per changed field with its title, "
                "old and new value) between two versions: by default the last two of the table pulled last; "
                "exit 0 when "
                "they are the same, 1 when they differ");
    std::string diffName;
    diff->add_option("NAME", diffArgs.name,
                     "the table whose last two versions to compare; a number is ID1 (diff ID [ID2])");
    diff->add_option("--name", diffName,
                     "the table, when its name is a number (diff --name 2024 [ID1 [ID2]])");
    diff->add_option("ID1", diffArgs.first, "compare version ID1 with the table's latest")
        ->check(CLI::PositiveNumber);
    diff->add_option("ID2", diffArgs.second, "compare ID1 with ID2 instead")->check(CLI::PositiveNumber);
    AddArchive(diff, diffArgs.archive);

    ExportArgs exportArgs;
    CLI::App* exportCmd = app.add_subcommand(
        "export", "write version ID of the archive as the table CSV with its schema and pictures (as to-csv "
                  "does), or its Kcsv bytes, or its web page (as show --html does)");
    exportCmd->add_option("ID", exportArgs.id, "the version (kiv history lists them)")
        ->required()
        ->check(CLI::PositiveNumber);
    exportCmd->add_flag("--kcsv", exportArgs.kcsv, "the table's bytes as received, NAME.kcsv");
    exportCmd->add_flag("--html", exportArgs.html, "the web page NAME.html, its pictures in NAME-pictures/");
    exportCmd->add_option("-d,--dir", exportArgs.dir,
                          "the folder for the files (default: the current folder)");
    exportCmd->add_option("-o,--output", exportArgs.output, "with --kcsv or --html: the file to write");
    AddArchive(exportCmd, exportArgs.archive);
    AddForce(exportCmd, o);

    ShowArgs showArgs;
    AddForce(AddShowCommand(&app, &showArgs), o);

    std::string doctorPort;
    bool probe = false;
    CLI::App* doctor = app.add_subcommand(
        "doctor", "check the port, one line each (ok, warning or fail, with what to do): the device is "
                  "there and a serial device, this user may open it, no other program holds it, the "
                  "driver behind it; exit 0 when nothing fails, 5 when something does");
    doctor->add_option("-p,--port", doctorPort, "serial port device, e.g. /dev/ttyUSB0 (default: $KIV_PORT)");
    doctor->add_flag("--probe", probe, "also probe the IR line device: whether it answers");

    SetExitFooters(&app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int status = app.exit(e);
        return status == 0 ? 0 : KIV_EXIT_USAGE;
    }
    o.command = app.get_subcommands().front()->get_name();
    // The environment's defaults are taken here, not by the parser: it fills
    // them in for every subcommand, and one that shares a variable with the
    // command given overwrote what its command line said.
    if (const char* port = getenv("KIV_PORT")) {
        if (o.link.port.empty())
            o.link.port = port;
        if (doctorPort.empty())
            doctorPort = port;
    }
    if ((*pull || *toCsv) && CheckBom(o))
        return KIV_EXIT_USAGE;
    if (*pull)
        return PullCommand(o, dir, name);
    // push --archive A ID: with an archive named on the command line (not
    // only by KIV_ARCHIVE), the one argument is a version of it.
    if (*push && !pushId && !o.archive.empty() && !pushInputs.first.empty()) {
        const std::string& id = pushInputs.first;
        if (!pushInputs.second.empty() || id.find_first_not_of("0123456789") != std::string::npos ||
            (pushId = strtol(id.c_str(), nullptr, 10)) <= 0) {
            Complain("with --archive, push takes a version ID (kiv history lists them), not " + id);
            return KIV_EXIT_USAGE;
        }
    }
    if (*push && pushId)
        return ArchivePushCommand(o, pushId);
    if (*push && pushInputs.first.empty()) {
        Complain("give NAME.csv, --classic LAYOUT CSV, or --from-archive ID");
        return KIV_EXIT_USAGE;
    }
    if (*push) {
        TableInputs& t = pushInputs;
        if (int status = CheckTableInputs(t, o))
            return status;
        return t.classic ? PushCommand(o, t.first, t.second) : TablePushCommand(o, t.read, t.first);
    }
    if (*receive)
        return ReceiveCommand(o, outPath);
    if (*send)
        return SendCommand(o, inPath);
    if (*toCsv)
        return ToCsvCommand(o, inPath, dir);
    if (*fromCsv) {
        TableInputs& t = fromInputs;
        if (int status = CheckTableInputs(t, o))
            return status;
        t.read.force = o.force;
        return t.classic ? FromCsvCommand(o, t.first, t.second, kcsvOut)
                         : TableFromCsvCommand(t.read, t.first, kcsvOut);
    }
    if (*ports)
        return PortsCommand();
    if (*archiveAdd)
        return ArchiveAddCommand(addArchive, addFiles);
    if (*history)
        return HistoryCommand(historyArchive, historyName);
    if (*diff && DiffTargets(&diffArgs, diffName))
        return KIV_EXIT_USAGE;
    if (*diff)
        return DiffCommand(diffArgs);
    if (*exportCmd)
        return ExportCommand(o, exportArgs);
    if (*merge)
        return MergeCommand(mergeArgs);
    if (*sync)
        return SyncCommand(o, syncArgs);
    if (app.got_subcommand("show"))
        return ShowCommand(o, showArgs);
    if (*doctor)
        return DoctorCommand(doctorPort, probe);
    return KIV_EXIT_USAGE;
}
