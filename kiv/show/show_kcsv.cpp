// A Kcsv table for kiv show: the same cells, and the same checks before,
// as the table CSV that to-csv writes for it, read in the same one pass.
#include "kcsv_pass.h"
#include "kiv_convert.h"
#include "show_table.h"

namespace {

void TakeFields(const TableModel& model, ShownTable* table)
{
    table->name = model.name;
    table->titles.clear();
    table->numbers.clear();
    table->times.clear();
    table->pictures.clear();
    for (const ModelField& f : model.fields) {
        table->titles.push_back(f.title);
        table->numbers.push_back(f.kind == FK_NUMBER);
        table->times.push_back(f.kind == FK_TIME);
        table->pictures.push_back(f.kind == FK_IMAGE);
    }
}

}   // namespace

int KcsvShownPass(const ShownInput& input, ShownTable* table, const ShownRowTaker& take, std::string* error)
{
    KcsvWindow in;
    if (input.kcsv) {
        OpenKcsvWindow(*input.kcsv, &in);
    } else {
        int rc = OpenKcsvWindowFile(input.path, &in, error);
        if (rc != KIV_EXIT_OK)
            return rc;
    }
    KcsvPass pass;
    StartKcsvPass(&pass, &in, input.base, input.path);
    int taken = KIV_EXIT_OK;
    std::string takeError;
    for (PassStep step; (step = NextKcsvPass(&pass)) != PASS_END;) {
        if (step == PASS_TITLES) {
            TakeFields(pass.model, table);
            continue;
        }
        taken = take({&pass.row.cells, &pass.row.pictures}, &takeError);
        // The check still goes on to the table's end, so that its fault wins.
        if (taken != KIV_EXIT_OK)
            pass.ended = true;
    }
    table->folder = input.folder;
    int rc = KcsvPassResult(&pass, error);
    if (rc == KIV_EXIT_OK && taken != KIV_EXIT_OK) {
        *error = takeError;
        rc = taken;
    }
    return rc;
}
