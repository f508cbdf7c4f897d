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

const char kRecordSuffix[] = ".kiv-files";

std::string Stem(const std::string& path)
{
    size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    bool ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return ext ? path.substr(0, dot) : path;
}

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
    std::string dir = FolderOf(csv), name = LeafOf(Stem(csv)), error, record, schema, kept;
    std::string recordPath = JoinPath(dir, name + kRecordSuffix), schemaPath = Stem(csv) + ".schema";
    bool listed = ReadWholeFile(recordPath, &record, &error) == KIV_EXIT_OK;
    const std::string copies[] = {name + ".merge-base.csv", name + ".merge-base.schema"};
    std::vector<std::string> gone;
    for (size_t at = 0; listed && at < record.size();) {
        size_t end = record.find('\n', at);
        end = end == std::string::npos ? record.size() : end;
        std::string entry = record.substr(at, end - at);
        if (entry == copies[0] || entry == copies[1]) {
            gone.push_back(entry);
            record.erase(at, end + 1 - at);
        } else {
            at = end + 1;
        }
    }
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
        rc = StageWrite(&stage, recordPath, record.data(), record.size(), &error);
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
