// The reading side of the Kcsv conversion on arbitrary bytes: taken as a
// table description, the walk must stay inside the bytes and leave only
// consistent picture references; taken as a Kcsv file, the header records,
// the description they carry and the data records must convert without
// overruns. Outputs go to a private directory under the system's temporary
// directory, removed at exit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include "kcsv/kcsv_to_csv.h"
#include "kcsv/photo_album.h"
#include "kcsv/table_description.h"

namespace fs = std::filesystem;

namespace {

std::string gDir, gPath;

void RemoveDir()
{
    std::error_code ec;
    fs::remove_all(gDir, ec);
}

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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string pattern = (fs::temp_directory_path() / "fuzz-kcsv-XXXXXX").string();
    if (!mkdtemp(&pattern[0]))
        abort();
    gDir = pattern;
    gPath = (fs::path(gDir) / "in.kcsv").string();
    atexit(RemoveDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckDescription(data, size);
    TextStream* input = TextOpenMemory(data, size);
    if (!input)
        return 0;
    ConvertKcsvStream(input, gPath.c_str());
    TextClose(input);
    return 0;
}
