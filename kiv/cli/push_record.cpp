// What a table CSV's set says once its table is on the handheld: the copy
// a merge kept of the CSV before it (NAME.merge-base.csv and .schema) has
// served its purpose and goes, with its lines of the set's record; after a
// sync, the schema's base names the version just sent. Only files the
// set's record lists are removed: a file of that name kiv did not write
// stays. The changes are one staged commit, so a crash leaves the set as it
// was or as it is after.
#include "kiv_commands.h"
#include "file_io.h"
#include "kiv_convert.h"
#include "staging.h"

namespace {

// schema with its base line naming version and hash (put after the rows
// line when it has none); unchanged when it has neither.
std::string WithBase(std::string schema, long version, const std::string& hash)
{
    std::string line = "base " + std::to_string(version) + " " + hash + "\n";
    size_t at = schema.rfind("\nbase ");
    if (at != std::string::npos) {
        size_t end = schema.find('\n', at + 1);
        return schema.replace(at + 1, end == std::string::npos ? std::string::npos : end - at, line);
    }
    at = schema.find("\nrows ");
    size_t end = at == std::string::npos ? at : schema.find('\n', at + 1);
    return end == std::string::npos ? schema : schema.insert(end + 1, line);
}

}   // namespace

int RecordTablePush(const std::string& csv, long version, const std::string& hash)
{
    std::string dir = FolderOf(csv), name = LeafOf(Stem(csv)), error, schema;
    std::string schemaPath = Stem(csv) + ".schema";
    const std::string copies[] = {name + ".merge-base.csv", name + ".merge-base.schema"};
    auto copy = [&](const std::string& entry) { return entry == copies[0] || entry == copies[1]; };
    std::vector<std::string> gone;
    EachSetRecordEntry(dir, name, name, [&](const std::string& entry) {
        if (copy(entry))
            gone.push_back(entry);
    });
    if (version && ReadWholeFile(schemaPath, &schema, &error) != KIV_EXIT_OK) {
        Complain(error + "; its base could not be renewed");
        return KIV_EXIT_READ;
    }
    std::string renewed = version ? WithBase(schema, version, hash) : schema;
    if (gone.empty() && renewed == schema)
        return KIV_EXIT_OK;
    Staging stage;
    int rc = StageOpen(&stage, dir, &error);
    if (rc == KIV_EXIT_OK && !gone.empty())
        rc = StageSetRecordKeeping(
            &stage, dir, name, name, [&](const std::string& entry) { return !copy(entry); }, &error);
    if (rc == KIV_EXIT_OK && renewed != schema)
        rc = StageWrite(&stage, schemaPath, renewed.data(), renewed.size(), &error);
    for (const std::string& entry : gone)
        StageRemove(&stage, JoinPath(dir, entry));
    if (rc == KIV_EXIT_OK)
        rc = StageCommit(&stage, true, nullptr, &error);
    StageClose(&stage);
    if (rc != KIV_EXIT_OK)
        Complain(error + "; the handheld has the table, but " + csv + "'s set still says what it did before");
    return rc;
}
