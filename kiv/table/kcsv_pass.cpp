#include "kcsv_pass.h"
#include <algorithm>
#include "kiv_convert.h"

namespace {

// The header comes from the window, which holds the table from its start
// until the pass has opened it.
void Open(KcsvPass* p)
{
    p->opened = true;
    p->openRc = OpenKcsvTable(p->in->text, p->base, p->shown, &p->table, &p->model, &p->openError);
    if (p->openRc != KIV_EXIT_OK)
        p->ended = true;
}

// A record the check read as one plain line is not split again.
bool TakeRow(KcsvPass* p)
{
    if (p->ended)
        return false;
    const TableCheckPass& c = p->check;
    if (!c.slots.empty() && c.start == p->table.next)
        KcsvRowOfSlots(&p->table, p->model, c.slots, c.next, &p->row);
    else if (!NextKcsvRow(&p->table, p->model, &p->row))
        p->ended = true;
    return !p->ended;
}

// The records behind every reader of the window go.
void DropBehind(KcsvPass* p)
{
    size_t keep = std::min(p->check.lineOffset, p->check.next);
    if (!p->ended)
        keep = std::min(keep, p->table.next);
    size_t dropped = DropKcsvBefore(p->in, keep);
    TableCheckDropped(&p->check, dropped);
    p->table.next -= dropped;
}

}   // namespace

void StartKcsvPass(KcsvPass* p, KcsvWindow* in, const std::string& base, const std::string& shown)
{
    *p = KcsvPass();
    p->in = in;
    p->shown = shown;
    p->base = base;
    StartTableCheck(&p->check);
}

PassStep NextKcsvPass(KcsvPass* p)
{
    for (;;) {
        CheckStep step = CheckNextRecord(&p->check, p->in->text, p->in->ended);
        if (step == CHECK_MORE && !p->in->ended) {
            ReadMoreKcsv(p->in);
            continue;
        }
        if (step != CHECK_RECORD)
            break;
        if (!p->check.inData)
            continue;
        bool opening = !p->opened;
        if (opening)
            Open(p);
        bool row = !opening && TakeRow(p);
        DropBehind(p);
        if (opening && p->openRc == KIV_EXIT_OK)
            return PASS_TITLES;
        if (row)
            return PASS_ROW;
    }
    // A table that ends at its titles is opened here.
    if (!p->opened && p->check.faultLine == 0 && p->check.lostLine == 0) {
        Open(p);
        if (p->openRc == KIV_EXIT_OK)
            return PASS_TITLES;
    }
    return PASS_END;
}

int KcsvPassResult(KcsvPass* p, std::string* error)
{
    int rc = CloseKcsvWindow(p->in, error);
    if (rc == KIV_EXIT_OK)
        rc = TableCheckResult(p->check, p->shown, error);
    if (rc == KIV_EXIT_OK && p->openRc != KIV_EXIT_OK) {
        *error = p->openError;
        rc = p->openRc;
    }
    return rc;
}
