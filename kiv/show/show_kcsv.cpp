// A Kcsv table for kiv show: the same cells, and the same checks before,
// as the table CSV that to-csv writes for it.
#include "file_io.h"
#include "kiv_convert.h"
#include "show_table.h"
#include "table_check.h"
#include "table_from_kcsv.h"

namespace {

void TakeFields(const TableModel& model, ShownTable* table)
{
    table->name = model.name;
    for (const ModelField& f : model.fields) {
        table->titles.push_back(f.title);
        table->numbers.push_back(f.kind == FK_NUMBER);
        table->pictures.push_back(f.kind == FK_IMAGE);
    }
}

}

int LoadKcsvShown(const std::string& path, const std::string& folder, const std::string& base,
                  ShownTable* table, std::string* error)
{
    std::string kcsv;
    int rc = ReadWholeFile(path, &kcsv, error);
    return rc == KIV_EXIT_OK ? KcsvShown(kcsv, path, folder, base, table, error) : rc;
}

int KcsvShown(const std::string& kcsv, const std::string& path, const std::string& folder,
              const std::string& base, ShownTable* table, std::string* error)
{
    int rc = RefuseDamagedTable(kcsv, path, error);
    KcsvTable reading;
    TableModel model;
    if (rc == KIV_EXIT_OK)
        rc = OpenKcsvTable(kcsv, base, path, &reading, &model, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    TakeFields(model, table);
    table->folder = folder;
    ModelRow row;
    while (NextKcsvRow(&reading, model, &row)) {
        table->rows.push_back(row.cells);
        table->bytes.push_back(row.pictures);
    }
    return KIV_EXIT_OK;
}
