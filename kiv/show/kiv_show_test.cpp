// kiv show through its command line: the text layout of the sample table and
// of hand-written table CSVs, and the web page read back by an HTML parser.
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <cstdlib>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

// The sample table as a Kcsv file (its files are code page 932) and, in csv/,
// as the table CSV.
const std::vector<std::string> kSample = {"from-csv --classic addr.table addr.txt -o addr.kcsv"};
const std::vector<std::string> kSampleCsv = {kSample[0], "to-csv addr.kcsv -d csv"};

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
        {"narrowed to 30 cells: the widest columns cut, a wide character never split", kSample, "",
         "show --width 30 addr.kcsv", 0,
         "氏名      金額  誕生日  写真\n"
         "------  ------  ------  ------\n"
         "山田 …  1234.5  1999-…  addr-…\n"
         "鈴木 …   -0.25  2001-…  addr-…\n"
         "①Ⅰ　    12345…  2026-…  addr-…\n",
         ""},
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

// What the page holds, as the parser sees it.
struct Page {
    int records = 0;                       // rows of the table's body
    std::vector<std::string> firstCells;   // the text of each record's first cell
    std::vector<std::string> images;       // src of each img
    std::vector<std::string> links;        // href of each a
};

std::string Attribute(xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, (const xmlChar*)name);
    std::string text = value ? (const char*)value : "";
    xmlFree(value);
    return text;
}

void Walk(xmlNode* node, bool inBody, Page* page)
{
    for (; node; node = node->next) {
        std::string tag = node->type == XML_ELEMENT_NODE ? (const char*)node->name : "";
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
        EXPECT_EQ(3, page.records);
        EXPECT_EQ((std::vector<std::string>{"山田 太郎", "鈴木 \"花子\"", "①Ⅰ　"}), page.firstCells);
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
        EXPECT_EQ(!row.ownsPictures, Exists(run.File("page/t-pictures/9-4.jpg")));
        EXPECT_TRUE(Exists(run.File("page/t-pictures/notes.txt")));
    }
}

}
