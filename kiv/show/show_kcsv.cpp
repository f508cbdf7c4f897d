// A Kcsv table for kiv show: the same cells, and the same checks before,
// as the table CSV that to-csv writes for it, read in the same one pass.
#include "kcsv_pass.h"
#include "kiv_convert.h"
#include "show_table.h"

namespace {

void TakeFields(const TableModel& model, ShownTable* table)
{
    table->name = model.name;
    for (const ModelField& f : model.fields) {
        table->titles.push_back(f.title);
        table->numbers.push_back(f.kind == FK_NUMBER);
        table->times.push_back(f.kind == FK_TIME);
        table->pictures.push_back(f.kind == FK_IMAGE);
    }
}

// A row's pictures are kept only when it has one: most rows have none.
void TakeRow(const ModelRow& row, ShownTable* table)
{
    table->rows.push_back(row.cells);
    bool any = false;
    for (const std::string& p : row.pictures)
        any = any || !p.empty();
    table->bytes.push_back(any ? row.pictures : std::vector<std::string>());
}

int Shown(KcsvWindow* in, const std::string& path, const std::string& folder, const std::string& base,
          ShownTable* table, std::string* error)
{
    KcsvPass pass;
    StartKcsvPass(&pass, in, base, path);
    for (PassStep step; (step = NextKcsvPass(&pass)) != PASS_END;) {
        if (step == PASS_TITLES)
            TakeFields(pass.model, table);
        else
            TakeRow(pass.row, table);
    }
    table->folder = folder;
    return KcsvPassResult(&pass, error);
}

}   // namespace

int LoadKcsvShown(const std::string& path, const std::string& folder, const std::string& base,
                  ShownTable* table, std::string* error)
{
    KcsvWindow in;
    int rc = OpenKcsvWindowFile(path, &in, error);
    return rc == KIV_EXIT_OK ? Shown(&in, path, folder, base, table, error) : rc;
}

int KcsvShown(const std::string& kcsv, const std::string& path, const std::string& folder,
              const std::string& base, ShownTable* table, std::string* error)
{
    KcsvWindow in;
    OpenKcsvWindow(kcsv, &in);
    return Shown(&in, path, folder, base, table, error);
}
