// kiv show: a Kcsv table (by its extension .kcsv) or a table CSV, printed as
// aligned columns or written as a web page. A page of a Kcsv table gets the
// pictures as files of its own, PAGE-pictures/R-C.EXT, written with it as one
// job; a page of a table CSV links to the CSV's picture files where they are.
#include <algorithm>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include "background_file.h"
#include "kiv_convert.h"
#include "show_command.h"
#include "show_table.h"
#include "staging.h"

namespace {

bool EndsWith(std::string s, const std::string& tail)
{
    for (char& ch : s)
        ch = (char)tolower((unsigned char)ch);
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The width asked, else the terminal's, else COLUMNS as a shell sets it,
// else 80; a terminal narrower than a view can be is taken as that narrow.
int LineWidth(int asked)
{
    struct winsize ws;
    int width = 80;
    if (asked >= 0)
        return asked;
    const char* columns = getenv("COLUMNS");
    if (columns && strspn(columns, "0123456789") == strlen(columns) && strlen(columns) < 7 &&
        atoi(columns) > 0)
        width = atoi(columns);
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        width = ws.ws_col;
    return std::max(width, kNarrowestView);
}

ShownInput InputOf(const std::string& path, const std::string* kcsv, const std::string& folder,
                   const std::string& base)
{
    ShownInput input;
    input.path = path;
    input.kcsv = kcsv;
    input.isKcsv = kcsv || EndsWith(path, ".kcsv");
    input.folder = folder;
    input.base = base;
    return input;
}

int CannotWrite(std::string* error)
{
    *error = std::string("cannot write the table: ") + strerror(errno);
    return KIV_EXIT_WRITE;
}

bool Print(const std::string& text) { return fwrite(text.data(), 1, text.size(), stdout) == text.size(); }

// The view a record at a time, as the second pass hands them out.
int PrintText(const ShowArgs& args)
{
    ShownInput input = InputOf(args.input, nullptr, FolderOf(args.input), LeafOf(Stem(args.input)));
    ShownTable table;
    std::string error;
    int rc = MeasureShown(input, &table, &error);
    if (rc != KIV_EXIT_OK) {
        Complain(error);
        return rc;
    }
    TextView view;
    view.width = LineWidth(args.width);
    view.vertical = args.vertical;
    for (size_t c = 0; args.columns.empty() && c < table.titles.size(); c++)
        view.columns.push_back(c);
    if (!args.columns.empty() && !PickColumns(table, args.columns, &view.columns, &error)) {
        Complain("--columns: " + args.input + " " + error);
        return KIV_EXIT_USAGE;
    }
    TextLayout layout;
    std::string text;
    rc = Print(TextStart(table, view, &layout)) ? KIV_EXIT_OK : CannotWrite(&error);
    if (rc == KIV_EXIT_OK) {
        rc = EachShownRow(
            input,
            [&](const ShownRow& row, std::string* why) {
                text.clear();
                TextRecord(&layout, *row.cells, &text);
                return Print(text) ? (int)KIV_EXIT_OK : CannotWrite(why);
            },
            &error);
    }
    if (rc == KIV_EXIT_OK && (!Print(TextEnd(layout)) || fflush(stdout) != 0))
        rc = CannotWrite(&error);
    if (rc != KIV_EXIT_OK)
        Complain(error);
    return rc;
}

// A path's bytes as a link: letters, digits, "-._~/" as they are, every
// other byte as %HH.
std::string LinkOf(const std::string& path)
{
    std::string link;
    for (unsigned char b : path) {
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02X", b);
        link += isalnum(b) || strchr("-._~/", b) ? std::string(1, (char)b) : std::string(hex);
    }
    return link;
}

std::vector<std::string> Components(const std::string& folder)
{
    std::vector<std::string> parts;
    char* real = realpath(folder.c_str(), nullptr);
    std::string path = real ? real : folder;
    free(real);
    for (size_t at = 0; at < path.size();) {
        size_t slash = path.find('/', at);
        slash = slash == std::string::npos ? path.size() : slash;
        if (slash > at)
            parts.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return parts;
}

// The way from the page's folder to the CSV's, "" or ending in '/'.
std::string RelativeFolder(const std::string& from, const std::string& to)
{
    std::vector<std::string> a = Components(from), b = Components(to);
    size_t same = 0;
    while (same < a.size() && same < b.size() && a[same] == b[same])
        same++;
    std::string way;
    for (size_t i = same; i < a.size(); i++)
        way += "../";
    for (size_t i = same; i < b.size(); i++)
        way += b[i] + "/";
    return way;
}

// A picture cell the page may link: a path inside the CSV's folder, so that
// the page reaches no file beside it or elsewhere (no absolute path, no "..",
// no "//", which a browser takes for another host).
bool InsideFolder(const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return false;
    for (size_t at = 0; at <= path.size();) {
        size_t slash = std::min(path.find('/', at), path.size());
        std::string part = path.substr(at, slash - at);
        if (part.empty() || part == "..")
            return false;
        at = slash + 1;
    }
    return true;
}

// A record's links to the CSV's picture files, each from "./" so that no
// cell reads as an address; a missing one, or one outside the CSV's folder,
// shows as its name.
void CsvLinks(const ShownTable& table, const std::vector<std::string>& cells, const std::string& way,
              std::vector<std::string>* links)
{
    struct stat st;
    for (size_t c = 0; c < table.titles.size(); c++) {
        const std::string& cell = cells[c];
        (*links)[c].clear();
        if (!table.pictures[c] || cell.empty())
            continue;
        if (!InsideFolder(cell))
            Complain(cell + ": a picture outside the table's folder; the page shows its name");
        else if (stat(JoinPath(table.folder, cell).c_str(), &st) == 0)
            (*links)[c] = "./" + LinkOf(way + cell);
        else
            Complain(JoinPath(table.folder, cell) + ": no such picture; the page shows its name");
    }
}

// A Kcsv record's pictures, staged beside the page under the names its cells hold.
int StagePictures(const ShownRow& row, const std::string& pageFolder, Staging* stage,
                  std::vector<std::string>* links, std::string* error)
{
    int rc = KIV_EXIT_OK;
    for (std::string& link : *links)
        link.clear();
    for (size_t c = 0; rc == KIV_EXIT_OK && c < row.bytes->size(); c++) {
        const std::string& bytes = (*row.bytes)[c];
        if (bytes.empty())
            continue;
        const std::string& cell = (*row.cells)[c];
        rc = StagePictureWrite(stage, JoinPath(pageFolder, cell), bytes.data(), bytes.size(), error);
        (*links)[c] = "./" + LinkOf(cell);
    }
    return rc;
}

// The page written as the second pass hands out the records: staged with
// its pictures before it, in the order the commit moves them.
int StagePage(const ShownInput& input, const ShownTable& table, const std::string& page, Staging* stage,
              std::string* error)
{
    std::string folder = FolderOf(page), way = input.isKcsv ? "" : RelativeFolder(folder, table.folder);
    std::string staged = StageName(stage, "");
    BackgroundFile file;
    auto put = [&](const std::string& html, std::string* why) {
        if (BackgroundWrite(&file, html.data(), html.size()))
            return (int)KIV_EXIT_OK;
        *why = "cannot write " + page + ": " + strerror(errno);
        return (int)KIV_EXIT_WRITE;
    };
    if (!OpenBackgroundFile(&file, staged)) {
        *error = "cannot write " + page + ": " + strerror(errno);
        return KIV_EXIT_WRITE;
    }
    std::vector<std::string> links(table.titles.size());
    int rc = put(HtmlHead(table), error);
    if (rc == KIV_EXIT_OK) {
        rc = EachShownRow(
            input,
            [&](const ShownRow& row, std::string* why) {
                int done = KIV_EXIT_OK;
                if (input.isKcsv)
                    done = StagePictures(row, folder, stage, &links, why);
                else
                    CsvLinks(table, *row.cells, way, &links);
                return done == KIV_EXIT_OK ? put(HtmlRow(table, *row.cells, links), why) : done;
            },
            error);
    }
    if (rc == KIV_EXIT_OK)
        rc = put(HtmlTail(), error);
    int err = CloseBackgroundFile(&file);
    if (rc == KIV_EXIT_OK && err) {
        *error = "cannot write " + page + ": " + strerror(err);
        rc = KIV_EXIT_WRITE;
    }
    if (rc == KIV_EXIT_OK)
        StageAdd(stage, staged, page);
    return rc;
}

// The page of the file input, or of the Kcsv bytes when given (input then
// names them). Once the page and its pictures are in place, wrote has each
// path written, the pictures read back from the stage's list of them.
int WritePage(const std::string& input, const std::string* bytes, const std::string& page, bool force,
              const std::function<void(const std::string&)>& wrote, std::string* error)
{
    std::string folder = FolderOf(page), base = LeafOf(Stem(page));
    ShownInput shown = InputOf(input, bytes, folder, base);
    ShownTable table;
    int rc = MeasureShown(shown, &table, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    Staging stage;
    rc = StageOpen(&stage, folder, error);
    if (rc == KIV_EXIT_OK)
        rc = StagePage(shown, table, page, &stage, error);
    // A Kcsv page owns its picture folder; a table CSV's page only links to pictures.
    std::string pictureFolder = JoinPath(folder, base + "-pictures");
    if (rc == KIV_EXIT_OK && shown.isKcsv)
        rc = StageSetRecord(&stage, folder, LeafOf(page), base, force, error);
    if (rc == KIV_EXIT_OK)
        rc = StageCommitWithFolder(&stage, pictureFolder, false, force, nullptr, error);
    if (rc == KIV_EXIT_OK)
        StageEachWritten(&stage, wrote);
    StageClose(&stage);
    return rc;
}
}

int WriteKcsvPage(const std::string& kcsv, const std::string& shown, const std::string& page, bool force,
                  std::vector<std::string>* written, std::string* error)
{
    return WritePage(
        shown, &kcsv, page, force, [written](const std::string& path) { written->push_back(path); }, error);
}

CLI::App* AddShowCommand(CLI::App* app, ShowArgs* args)
{
    CLI::App* show = app->add_subcommand("show",
                                         "print a table (a Kcsv file, or a table CSV with its schema) as "
                                         "aligned columns, or write it as a web page");
    show->add_option("FILE", args->input, "the table: NAME.kcsv, or NAME.csv with NAME.schema beside it")
        ->required();
    show->add_flag("--html", args->html,
                   "write one web page instead, with the pictures as thumbnails (a Kcsv table's pictures "
                   "are written beside it, in PAGE-pictures/)");
    show->add_option("-o,--output", args->page,
                     "with --html: the page (default: FILE with the extension .html)");
    CLI::Validator viewWidth(
        [](std::string& value) {
            long width = atol(value.c_str());
            bool digits = !value.empty() && value.size() < 7 &&
                          strspn(value.c_str(), "0123456789") == value.size();
            return digits && (width == 0 || width >= kNarrowestView)
                       ? std::string()
                       : "give 0 (no limit) or at least " + std::to_string(kNarrowestView) + " cells, not " +
                             value;
        },
        "");
    show->add_option(
            "--width", args->width,
            "the widest line, in terminal cells, 0 (no limit) or at least " + std::to_string(kNarrowestView) +
                " (default: the terminal's width, else COLUMNS, else 80); columns that do not fit are "
                "named in a last line")
        ->check(viewWidth);
    show->add_option("--columns", args->columns,
                     "the columns to print, in this order: titles or numbers from 1, comma-separated");
    show->add_flag("--vertical", args->vertical,
                   "print each record as \"title: value\" lines (chosen by itself when fewer than two "
                   "columns fit)");
    return show;
}

int ShowCommand(const CommonOptions& o, const ShowArgs& args)
{
    if (!args.html && !args.page.empty()) {
        Complain("-o names the page of --html");
        return KIV_EXIT_USAGE;
    }
    if (args.html && (args.width >= 0 || !args.columns.empty() || args.vertical)) {
        Complain("--width, --columns and --vertical lay out the terminal view, not the page of --html");
        return KIV_EXIT_USAGE;
    }
    if (!args.html)
        return PrintText(args);
    std::string page = args.page.empty() ? JoinPath(FolderOf(args.input), LeafOf(Stem(args.input)) + ".html")
                                         : args.page;
    std::string error;
    int rc = WritePage(
        args.input, nullptr, page, o.force, [](const std::string& path) { std::cout << path << "\n"; },
        &error);
    if (rc != KIV_EXIT_OK)
        Complain(error);
    return rc;
}
