// The reading side of the Kcsv conversion on arbitrary bytes, all in memory:
// taken as a table description, the walk must stay inside the bytes and leave
// only consistent picture references; taken as a Kcsv file, the header
// records, the description they carry, the data records, the pictures and
// the photo album must convert without overruns or leaks, and a successful
// conversion writes one length line per record line.
//
// On one core this target runs some 30 000 inputs a second while they are
// the size of the seeds (half a kilobyte), but only about 15 000 once the
// corpus has grown to inputs of one to four kilobytes: every byte of text is
// read, converted from SJIS1 and counted, and every picture byte decoded,
// each step with traced comparisons under ASan and UBSan, besides an
// allocation per field and per text value.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "kcsv/kcsv_to_csv.h"
#include "kcsv/photo_album.h"
#include "kcsv/table_description.h"
#include "memfiles.h"

namespace {

const char kPath[] = "in.kcsv";

bool KnownKind(int kind)
{
    return kind == FK_NONE || (kind >= FK_TEXT && kind <= FK_IMAGE) || kind == FK_IMAGE_AUX;
}

void CheckDescription(const uint8_t* data, size_t size)
{
    static const char* const ids[] = {"KD01", "KD02", "KD03", "IM01", "IMI1", "IM02", "PG10", "PG11", "KD"};
    TableLayout layout = {};
    for (const char* id : ids) {
        TableField& f = layout.fields[layout.fieldCount];
        memcpy(f.id, id, strlen(id));
        f.column = (int16_t)(6 + layout.fieldCount++);
    }
    // An exact copy, so that a read past the bytes is caught.
    std::vector<unsigned char> exact(data, data + size);
    ApplyTableDescription(exact.data(), exact.size(), &layout);
    if (layout.name[TABLE_NAME_MAX] != '\0')
        abort();
    for (int i = 0; i < layout.fieldCount; i++) {
        const TableField& f = layout.fields[i];
        if (!KnownKind(f.kind))
            abort();
        if (f.kind == FK_IMAGE && f.subKind == PICTURE_BY_FORMAT_FIELD &&
            (f.aux1 < -1 || f.aux1 >= layout.fieldCount || f.aux2 < -1 || f.aux2 >= layout.fieldCount))
            abort();
    }
}

long Lines(const char* name)
{
    size_t size = 0;
    const unsigned char* bytes = GetMemoryFile(name, &size);
    return bytes ? (long)std::count(bytes, bytes + size, '\n') : -1;
}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    UseMemoryFiles(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckDescription(data, size);
    TextStream* input = TextOpenMemory(data, size);
    if (!input)
        return 0;
    bool ok = ConvertKcsvStream(input, kPath);
    TextClose(input);
    if (ok && Lines("in.kcsv.rec") != Lines("in.kcsv.num"))
        abort();
    ClearMemoryFiles();
    return 0;
}
