// kiv show through its command line: the text layout of the sample table and
// of hand-written table CSVs, and the web page read back by an HTML parser.
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

// The sample table as a Kcsv file (its files are code page 932) and, in csv/,
// as the table CSV.
const std::vector<std::string> kSample = {"from-csv --classic addr.table addr.txt -o addr.kcsv"};
const std::vector<std::string> kSampleCsv = {kSample[0], "to-csv addr.kcsv -d csv"};

std::string Repeat(const std::string& line, int times)
{
    std::string text;
    for (int i = 0; i < times; i++)
        text += line;
    return text;
}

void CopySamples(const KivRun& run) { ASSERT_EQ(0, system(("cp " KIV_SAMPLES "/* " + run.dir).c_str())); }

TEST(KivShow, PrintsAlignedColumns)
{
    const std::string sample = "氏名                         金額  誕生日      写真\n"
                               "-----------  --------------------  ----------  ---------------------\n"
                               "山田 太郎                  1234.5  1999-12-31  addr-pictures/1-4.jpg\n"
                               "鈴木 \"花子\"                 -0.25  2001-01-05  addr-pictures/2-4.png\n"
                               "①Ⅰ　         12345678901234567890  2026-12-07  addr-pictures/3-4.gif\n";
    struct Row {
        const char* name;
        std::vector<std::string> before;   // kiv commands that make the table
        std::string csv;                   // else: t.csv, written as it stands
        std::string args;
        int status;
        std::string out;   // stdout, exactly
        std::string err;   // a part of stderr
    } rows[] = {
        {"wide characters take two cells, numbers right-aligned, pictures by file name", kSample, "",
         "show addr.kcsv", 0, sample, ""},
        {"the table CSV of the same table, numbers known from its schema", kSampleCsv, "",
         "show csv/addr.csv", 0, sample, ""},
        {"narrowed to 30 cells: a number is never cut, the columns that do not fit are left out", kSample, "",
         "show --width 30 addr.kcsv", 0,
         "氏名                      金額\n"
         "--------  --------------------\n"
         "山田 太…                1234.5\n"
         "鈴木 \"…                  -0.25\n"
         "①Ⅰ　      12345678901234567890\n"
         "2 more columns:\n"
         "use --columns\n",
         ""},
        {"--columns naming no column", kSample, "", "show --columns 氏名,5 addr.kcsv", 64, "",
         "kiv: --columns: addr.kcsv has no column \"5\"; its columns are 1 氏名, 2 金額, 3 誕生日, 4 写真"},
        {"--vertical, --columns by title and by number: a block per record, the values lined up", kSample, "",
         "show --vertical --columns 誕生日,1 addr.kcsv", 0,
         "-[ record 1 ]\n誕生日: 1999-12-31\n氏名:   山田 太郎\n-[ record 2 ]\n誕生日: 2001-01-05\n"
         "氏名:   鈴木 \"花子\"\n-[ record 3 ]\n誕生日: 2026-12-07\n氏名:   ①Ⅰ　\n",
         ""},
        {"one column fits 20 cells: vertical by itself, a long number going on under itself", kSample, "",
         "show --columns 金額,誕生日 --width 20 addr.kcsv", 0,
         "-[ record 1 ]\n金額:   1234.5\n誕生日: 1999-12-31\n"
         "-[ record 2 ]\n金額:   -0.25\n誕生日: 2001-01-05\n"
         "-[ record 3 ]\n金額:   123456789012\n        34567890\n誕生日: 2026-12-07\n",
         ""},
        {"a width a view cannot be", kSample, "", "show --width 19 addr.kcsv", 64, "",
         "kiv: --width: give 0 (no limit) or at least 20 cells, not 19"},
        {"the page has no width", kSample, "", "show --html --width 40 addr.kcsv", 64, "",
         "kiv: --width, --columns and --vertical lay out the terminal view"},
        {"no limit: a column still at most 32 cells; line breaks shown, combining marks take none",
         {},
         "name,note\r\nabcdefghijklmnopqrstuvwxyz0123456789,\"two\r\nlines\"\r\ne\xCC\x81t\xC3\xA9,ＡＢ\r\n",
         "show --width 0 t.csv",
         0,
         "name                              note\n"
         "--------------------------------  ---------\n"
         "abcdefghijklmnopqrstuvwxyz01234…  two↵lines\n"
         "e\xCC\x81t\xC3\xA9                               ＡＢ\n",
         ""},
        {"an empty table: its titles alone",
         {"from-csv --classic addr.table t.csv -o empty.kcsv"},
         "",
         "show empty.kcsv",
         0,
         "氏名  金額  誕生日  写真\n"
         "----  ----  ------  ----\n",
         ""},
        {"an empty table, vertical",
         {"from-csv --classic addr.table t.csv -o empty.kcsv"},
         "",
         "show --vertical empty.kcsv",
         0,
         "(no records)\n",
         ""},
        {"a missing file", {}, "", "show none.kcsv", 7, "", "none.kcsv: No such file"},
        {"a quote left open",
         {},
         "a,b\r\n1,2\r\n\"x,y\r\n",
         "show t.csv",
         6,
         "",
         "t.csv: line 3, column 1: a quote opened here is never closed"},
        {"a record wider than the titles",
         {},
         "a,b\r\n1,2,3\r\n",
         "show t.csv",
         6,
         "",
         "t.csv: line 2: 3 cells where the titles are 2"},
        // The first pass reads the whole file before a line is shown.
        {"a record wider than the titles far into the file",
         {},
         "a,b\r\n" + Repeat("1,2\r\n", 5000) + "1,2,3\r\n",
         "show t.csv",
         6,
         "",
         "t.csv: line 5002: 3 cells where the titles are 2"},
        {"a quote left open outranks a record of another width before it",
         {},
         "a,b\r\n1,2,3\r\n" + Repeat("1,2\r\n", 5000) + "\"x\r\n",
         "show --html t.csv",
         6,
         "",
         "t.csv: line 5003, column 1: a quote opened here is never closed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        CopySamples(run);
        WriteWhole(run.File("t.csv"), row.csv);
        for (const std::string& command : row.before) {
            if (command.rfind("sh:", 0) == 0) {
                ASSERT_EQ(0, system(("cd " + run.dir + " && " + command.substr(3)).c_str()));
            } else {
                ASSERT_EQ(0, run.Kiv(command)) << command << ": " << run.Err();
            }
        }
        EXPECT_EQ(row.status, run.Kiv(row.args)) << run.Err();
        EXPECT_EQ(row.out, run.Out());
        EXPECT_NE(std::string::npos, run.Err().find(row.err)) << run.Err();
    }
}

// A table of 30 columns as the handheld holds it (code page 932): 氏名, a
// long note メモ of kana, 金額, 日付, then 項目5 to 項目30, nearly empty; two
// records.
void WriteWideTable(const KivRun& run)
{
    std::string layout = "Wide" + std::string(29, ' ') + "\r\n", note;
    std::vector<std::string> titles = {"\x8E\x81\x96\xBC", "\x83\x81\x83\x82", "\x8B\xE0\x8A\x7A",
                                       "\x93\xFA\x95\x74"};
    for (int c = 5; c <= 30; c++)
        titles.push_back("\x8D\x80\x96\xDA" + std::to_string(c));
    std::vector<std::string> kinds(titles.size(), "0000");
    kinds[2] = "0100";   // a number
    kinds[3] = "0301";   // a date
    for (size_t c = 0; c < titles.size(); c++)
        layout += titles[c] + std::string(21 - titles[c].size(), ' ') + kinds[c] + "\r\n";
    for (int i = 0; i < 24; i++)
        note += "\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8";
    WriteWhole(run.File("wide.table"), layout);
    std::string tail = "\"" + std::string(26, ',') + "\"";
    WriteWhole(run.File("wide.txt"), "\"\x8E\x52\x93\x63 \x91\xBE\x98\x59\",\"" + note +
                                         "\",\"12345678901234567890\",\"2026/12/07" + tail + "x\"\r\n" +
                                         "\"\x97\xE9\x96\xD8\",\"short\",\"-0.25\",\"2001/01/05" + tail +
                                         "y\"\r\n");
}

// The cells a line of that table takes on a terminal, worked out apart from
// kiv: it holds ASCII, one cell each, kana and kanji, three bytes and two
// cells each, and "…", three bytes and one cell.
int Cells(const std::string& line)
{
    int cells = 0;
    for (unsigned char b : line)
        cells += b < 0x80 ? 1 : b >= 0xE0 ? 2 : 0;
    for (size_t at = 0; (at = line.find("…", at)) != std::string::npos; at++)
        cells--;
    return cells;
}

TEST(KivShow, FitsTheWidthCuttingTextOnly)
{
    struct Row {
        const char* name;
        std::string args;
        std::vector<std::string> env;
        int width;                 // no line may be wider
        std::vector<int> widths;   // the columns shown, from the rule under the titles
        std::string last;          // what follows the two records, exactly
    } rows[] = {
        {"200 cells: the text columns narrowed in proportion to their room, 7 left out",
         "show --width 200 wide.kcsv",
         {},
         200,
         {7, 10, 20, 10, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6},
         "7 more columns: 項目24, 項目25, 項目26, 項目27, 項目28, 項目29, 項目30, use --columns\n"},
        {"80 cells: as many titles named as fit",
         "show --width 80 wide.kcsv",
         {},
         80,
         {6, 10, 20, 10, 5, 5, 5, 5},
         "22 more columns: 項目9, 項目10, 項目11, 項目12, 項目13, 項目14, …, use --columns\n"},
        {"60 cells from COLUMNS, as a shell sets it",
         "show wide.kcsv",
         {"COLUMNS=60"},
         60,
         {7, 10, 20, 10, 5},
         "25 more columns: 項目6, 項目7, 項目8, …, use --columns\n"},
        {"40 cells: the date does not fit beside the number",
         "show --width 40 wide.kcsv",
         {},
         40,
         {6, 10, 20},
         "27 more columns: 日付, …, use --columns\n"},
        {"--columns by name: the note alone narrowed",
         "show --columns 日付,金額,メモ --width 40 wide.kcsv",
         {},
         40,
         {10, 20, 6},
         ""},
        {"a number that cannot fit is left out, the text takes its room",
         "show --columns メモ,氏名,日付,金額 --width 40 wide.kcsv",
         {},
         40,
         {19, 7, 10},
         "1 more column: 金額, use --columns\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        WriteWideTable(run);
        ASSERT_EQ(0, run.Kiv("from-csv --classic wide.table wide.txt -o wide.kcsv")) << run.Err();
        ASSERT_EQ(0, ExitStatus(run.StartKiv(row.args, "", row.env))) << run.Err();
        std::vector<std::string> lines;
        std::istringstream out(run.Out());
        for (std::string line; std::getline(out, line);)
            lines.push_back(line);
        ASSERT_LE(4u, lines.size()) << run.Out();
        std::vector<int> widths;
        for (const std::string& rule : Words(lines[1]))
            widths.push_back((int)rule.size());
        EXPECT_EQ(row.widths, widths);
        std::string last;
        for (size_t i = 4; i < lines.size(); i++)
            last += lines[i] + "\n";
        EXPECT_EQ(row.last, last);
        for (const std::string& line : lines) {
            EXPECT_LE(Cells(line), row.width) << line;
            // Only text is cut: no number or date ends in "…".
            for (char digit = '0'; digit <= '9'; digit++)
                EXPECT_EQ(std::string::npos, line.find(std::string(1, digit) + "…")) << line;
        }
    }
}

// What the page holds, as the parser sees it.
struct Page {
    int records = 0;                       // rows of the table's body
    std::vector<std::string> firstCells;   // the text of each record's first cell
    std::vector<std::string> images;       // src of each img
    std::vector<std::string> links;        // href of each a
    std::vector<std::string> titleKinds;   // class of each th
    std::vector<std::string>
        cellKinds;         // class of each td of the first record, "+div" when its text is wrapped
    std::string style;     // the text of the style element
    bool framed = false;   // the table inside a div of class "frame"
};

std::string Attribute(xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, (const xmlChar*)name);
    std::string text = value ? (const char*)value : "";
    xmlFree(value);
    return text;
}

std::string CellKind(xmlNode* td)
{
    std::string kind = Attribute(td, "class");
    for (xmlNode* child = td->children; child; child = child->next)
        kind += child->type == XML_ELEMENT_NODE && std::string((const char*)child->name) == "div" ? "+div"
                                                                                                  : "";
    return kind;
}

void Walk(xmlNode* node, bool inBody, Page* page)
{
    for (; node; node = node->next) {
        std::string tag = node->type == XML_ELEMENT_NODE ? (const char*)node->name : "";
        if (tag == "th")
            page->titleKinds.push_back(Attribute(node, "class"));
        if (tag == "td" && page->records == 1)
            page->cellKinds.push_back(CellKind(node));
        if (tag == "style" && node->children)
            page->style = (const char*)node->children->content;
        if (tag == "table")
            page->framed = node->parent && Attribute(node->parent, "class") == "frame";
        if (tag == "tr" && inBody) {
            page->records++;
            xmlNode* td = node->children;
            while (td && td->type != XML_ELEMENT_NODE)
                td = td->next;
            xmlChar* text = td ? xmlNodeGetContent(td) : nullptr;
            page->firstCells.push_back(text ? (const char*)text : "");
            xmlFree(text);
        }
        if (tag == "img")
            page->images.push_back(Attribute(node, "src"));
        if (tag == "a")
            page->links.push_back(Attribute(node, "href"));
        Walk(node->children, inBody || tag == "tbody", page);
    }
}

Page ParsePage(const std::string& path)
{
    Page page;
    htmlDocPtr doc = htmlReadFile(path.c_str(), "UTF-8",
                                  HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
    if (doc)
        Walk(xmlDocGetRootElement(doc), false, &page);
    xmlFreeDoc(doc);
    return page;
}

// A link's file, relative to the page's folder.
std::string LinkedFile(const std::string& folder, const std::string& link)
{
    std::string path;
    for (size_t i = 0; i < link.size(); i++) {
        if (link[i] == '%' && i + 2 < link.size())
            path += (char)strtol(link.substr(++i, 2).c_str(), nullptr, 16), i++;
        else
            path += link[i];
    }
    return folder + "/" + path;
}

TEST(KivShow, WritesOnePageWithThumbnails)
{
    struct Row {
        const char* name;
        std::vector<std::string> before;
        std::string args;
        std::string page;
        std::vector<std::string> pictures;   // the sample each thumbnail's file must equal
        bool ownsPictures;                   // --force takes the extra pictures an older page recorded away
    } rows[] = {
        {"a Kcsv table: its pictures written beside the page",
         kSample,
         "show --html addr.kcsv -o page/t.html",
         "page/t.html",
         {"photo1.jpg", "photo2.png", "photo3.gif"},
         true},
        {"a table CSV: links to its own picture files",
         kSampleCsv,
         "show --html csv/addr.csv -o page/t.html",
         "page/t.html",
         {"photo1.jpg", "photo2.png", "photo3.gif"},
         false},
        {"a table CSV's cells outside its folder: shown as their text",
         {kSampleCsv[0], kSampleCsv[1],
          "sh:sed -i -e 's#addr-pictures/1-4.jpg#../../../../etc/passwd#' -e "
          "'s#addr-pictures/2-4.png#//host/x.png#' "
          "-e 's#addr-pictures/3-4.gif#/etc/passwd#' csv/addr.csv"},
         "show --html csv/addr.csv -o page/t.html",
         "page/t.html",
         {},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        CopySamples(run);
        ASSERT_EQ(0, system(("mkdir " + run.File("page")).c_str()));
        for (const std::string& command : row.before) {
            if (command.rfind("sh:", 0) == 0) {
                ASSERT_EQ(0, system(("cd " + run.dir + " && " + command.substr(3)).c_str()));
            } else {
                ASSERT_EQ(0, run.Kiv(command)) << command << ": " << run.Err();
            }
        }
        ASSERT_EQ(0, run.Kiv(row.args)) << run.Err();
        Page page = ParsePage(run.File(row.page));
        // What it wrote is listed: a Kcsv page's pictures in the order of
        // the page, then the page.
        std::string listed;
        for (size_t i = 0; row.ownsPictures && i < page.images.size(); i++)
            listed += LinkedFile(row.page.substr(0, row.page.rfind('/')), page.images[i].substr(2)) + "\n";
        listed += row.page + "\n";
        EXPECT_EQ(listed, run.Out());
        EXPECT_EQ(3, page.records);
        EXPECT_EQ((std::vector<std::string>{"山田 太郎", "鈴木 \"花子\"", "①Ⅰ　"}), page.firstCells);
        // The table scrolls in its frame; no column is narrower than its kind needs.
        EXPECT_TRUE(page.framed);
        EXPECT_EQ((std::vector<std::string>{"s", "n", "d", "p"}), page.cellKinds);
        ASSERT_EQ(row.pictures.size(), page.images.size());
        EXPECT_EQ(page.images, page.links);
        for (size_t i = 0; i < page.images.size(); i++) {
            EXPECT_EQ(std::string::npos, page.images[i].find(':')) << page.images[i];
            EXPECT_EQ(0u, page.images[i].rfind("./", 0)) << page.images[i];
            EXPECT_EQ(ReadWhole(run.File(row.pictures[i])),
                      ReadWhole(LinkedFile(run.File("page"), page.images[i])))
                << page.images[i];
        }
        std::string html = ReadWhole(run.File(row.page));
        EXPECT_EQ(row.pictures.empty(), html.find(">//host/x.png<") != std::string::npos) << html;
        EXPECT_EQ(std::string::npos, html.find("http:"));
        EXPECT_EQ(std::string::npos, html.find("https:"));
        EXPECT_EQ(8, run.Kiv(row.args)) << "a page that exists is kept without --force";
        system(("mkdir -p " + run.File("page/t-pictures")).c_str());
        WriteWhole(run.File("page/t-pictures/9-4.jpg"), "an older page's");
        std::string record = run.File("page/t.html.kiv-files");
        WriteWhole(record, (Exists(record) ? ReadWhole(record) : "") + "t-pictures/9-4.jpg\n");
        WriteWhole(run.File("page/t-pictures/notes.txt"), "the user's");
        EXPECT_EQ(0, run.Kiv(row.args + " -f")) << run.Err();
        EXPECT_EQ(listed, run.Out()) << "the pictures moved one by one into their folder";
        EXPECT_EQ(!row.ownsPictures, Exists(run.File("page/t-pictures/9-4.jpg")));
        EXPECT_TRUE(Exists(run.File("page/t-pictures/notes.txt")));
    }
}
}

namespace {

// The page lets no column be squeezed below what its content needs: a text
// column up to 16 cells stays on one line, up to 48 wraps within at least
// 8 em, a longer one at 24 em; a browser lays that out by each column's class.
TEST(KivShow, GivesEachPageColumnAMinimumByItsContent)
{
    const std::string x16 = "0123456789abcdef", kana8 = "あいうえおかきく";
    struct Row {
        const char* name;
        std::string csv;
        std::vector<std::string> kinds;   // each column's class; "+div" where its text wraps in a block
    } rows[] = {
        {"16 cells and 17", "a,b\r\n" + x16 + "," + x16 + "g\r\n", {"s", "m+div"}},
        {"48 cells and 49",
         "a,b\r\n" + x16 + x16 + x16 + "," + x16 + x16 + x16 + "g\r\n",
         {"m+div", "l+div"}},
        {"a wide character counts two", "a,b\r\n" + kana8 + "," + kana8 + "け\r\n", {"s", "m+div"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        WriteWhole(run.File("t.csv"), row.csv);
        ASSERT_EQ(0, run.Kiv("show --html t.csv")) << run.Err();
        Page page = ParsePage(run.File("t.html"));
        EXPECT_EQ(row.kinds, page.cellKinds);
        ASSERT_EQ(row.kinds.size(), page.titleKinds.size());
        for (size_t c = 0; c < row.kinds.size(); c++) {
            EXPECT_EQ(row.kinds[c].substr(0, 1), page.titleKinds[c]);
            std::string rule = "td." + row.kinds[c].substr(0, 1) + (row.kinds[c].size() > 1 ? " div{" : "");
            EXPECT_NE(std::string::npos, page.style.find(rule)) << rule;
        }
    }
}

}   // namespace

namespace {

// What headless Chromium measures on the page at a window width, by a
// script run after it: titles without a space broken onto a second line,
// how far the page is wider than the window, the tallest record's height
// and the long note's width, in CSS pixels. "" when there is no browser.
std::string LaidOut(const KivRun& run, const std::string& page, int width)
{
    static const char measure[] = R"(<script>
(function () {
  var each = Array.prototype.slice, r = {};
  r.broken = each.call(document.querySelectorAll('th')).filter(function (th) {
    if (th.textContent.indexOf(' ') >= 0) return false;
    var range = document.createRange(), tops = {};
    range.selectNodeContents(th);
    each.call(range.getClientRects()).forEach(function (x) { tops[Math.round(x.top)] = 1; });
    return Object.keys(tops).length > 1;
  }).map(function (th) { return th.textContent; });
  r.overflow = document.documentElement.scrollWidth - window.innerWidth;
  var rows = each.call(document.querySelectorAll('tbody tr'));
  r.tallest = Math.max.apply(null, rows.map(function (x) { return Math.round(x.getBoundingClientRect().height); }));
  r.note = Math.round(rows[0].querySelectorAll('td')[1].getBoundingClientRect().width);
  document.body.setAttribute('data-layout', JSON.stringify(r).replace(/"/g, "'"));
})();
</script>)";
    WriteWhole(run.File("measured.html"), ReadWhole(run.File(page)) + measure);
    std::string command = "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                          "--disable-background-networking --disable-component-update --disable-sync "
                          "--user-data-dir=" +
                          run.File("browser") + " --window-size=" + std::to_string(width) +
                          ",900 --dump-dom file://" + run.File("measured.html") + " 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    std::string dom;
    char buf[65536];
    for (size_t n; out && (n = fread(buf, 1, sizeof buf, out)) > 0;)
        dom.append(buf, n);
    if (out)
        pclose(out);
    size_t at = dom.find("data-layout=\"");
    return at == std::string::npos ? "" : dom.substr(at + 13, dom.find('"', at + 13) - at - 13);
}

// The page of the 30-column table as a browser lays it out: on a wide
// window the long note keeps a readable width and no record grows tall; on
// a phone's the records stack under their titles, within the window. No
// title breaks inside a word either way.
TEST(KivShow, APageLaidOutByABrowserKeepsEveryColumnReadable)
{
    if (system("command -v chromium >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no chromium on this machine to lay the page out";
    KivRun run;
    WriteWideTable(run);
    ASSERT_EQ(0, run.Kiv("from-csv --classic wide.table wide.txt -o wide.kcsv")) << run.Err();
    ASSERT_EQ(0, run.Kiv("show --html wide.kcsv -o wide.html")) << run.Err();
    const struct Row {
        int width;
        int tallest, note;   // at most, at least
    } rows[] = {{1400, 200, 300}, {380, 1200, 300}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.width);
        std::string layout = LaidOut(run, "wide.html", row.width);
        ASSERT_NE("", layout) << "the browser measured nothing";
        auto number = [&](const std::string& key) {
            size_t at = layout.find("'" + key + "':");
            return at == std::string::npos ? -1 : atoi(layout.c_str() + at + key.size() + 3);
        };
        EXPECT_NE(std::string::npos, layout.find("'broken':[]")) << layout;
        EXPECT_GE(0, number("overflow")) << layout;
        EXPECT_GE(row.tallest, number("tallest")) << layout;
        EXPECT_LE(row.note, number("note")) << layout;
    }
}

}   // namespace
