// A Kcsv table into the files the application imports. The core writes the
// layout, record, length and description files and the pictures beside the
// path it converts, and names each picture in the record file by that path.
// So it converts in memory files under the very path the outputs will have
// (in code page 932, the record file's encoding): the record file then names
// the pictures where they will lie, as the DLL does when handed that path.
// The files are then staged beside their final places and renamed together.
#include "kiv_convert.h"
#include "cp932_text.h"
#include "file_io.h"
#include "staging.h"
#include "table_check.h"
#include "table_files.h"
#include "kcsv/kcsv_format.h"
#include "kcsv/kcsv_to_csv.h"
#include "memfiles.h"
#include <cstring>
#include <dirent.h>
#include <unordered_set>

namespace {

// Runs the core on kcsv as if it lay at corePath; *files receives what it
// wrote, in the order written.
bool ConvertInMemory(const std::string& kcsv, const std::string& corePath, std::vector<TableFile>* files)
{
    UseMemoryFiles(true);
    ClearMemoryFiles();
    PutMemoryFile(corePath.c_str(), kcsv.data(), kcsv.size());
    bool ok = ConvertKcsvToCsv(corePath.c_str());
    for (size_t i = 0; i < MemoryFileCount(); i++) {
        std::string name = MemoryFileName(i);
        if (name == corePath || name.compare(0, corePath.size(), corePath) != 0)
            continue;
        size_t size = 0;
        const unsigned char* data = GetMemoryFile(name.c_str(), &size);
        files->push_back({name.substr(corePath.size()), std::string((const char*)data, size)});
    }
    ClearMemoryFiles();
    UseMemoryFiles(false);
    return ok;
}

// Only the files a person reads change encoding under --utf8: the layout and
// the record file. The Kcsv file, the length file (its counts are characters
// either way), the description file and the pictures stay as they are.
bool ReadByPeople(const std::string& suffix) { return suffix == ".table" || suffix == ".rec"; }

// The table's name, blanks cut, from the first line of the layout the core
// wrote; empty when there is none.
std::string TableName(const std::vector<TableFile>& files)
{
    for (const TableFile& f : files) {
        if (f.suffix != ".table")
            continue;
        std::string name = f.bytes.substr(0, std::min(f.bytes.size(), (size_t)TABLE_NAME_MAX));
        size_t end = name.find_last_not_of(' ');
        return end == std::string::npos ? std::string() : name.substr(0, end + 1);
    }
    return std::string();
}

// The real path in code page 932, as the core and the record file take it;
// a path with no such form goes as it is.
std::string CorePath(const std::string& realPath)
{
    std::string core, ignored;
    return Utf8ToCp932(realPath, realPath, &core, &ignored) ? core : realPath;
}

// A file the core writes beside leaf: its layout, record, length and
// description files and its numbered pictures.
bool OfNamingPattern(const std::string& entry, const std::string& leaf)
{
    if (entry.size() <= leaf.size() + 1 || entry.compare(0, leaf.size() + 1, leaf + ".") != 0)
        return false;
    std::string rest = entry.substr(leaf.size() + 1);
    if (rest == "table" || rest == "rec" || rest == "num" || rest == "tab")
        return true;
    size_t digits = rest.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string::npos)
        return false;
    std::string ext = rest.substr(digits);
    return ext == ".jpg" || ext == ".png" || ext == ".gif";
}

// Files of realPath's naming pattern that are not among the new ones. The
// new names are looked up, not compared in turn: a table with a picture in
// many records has as many files as the folder has entries.
void StageStaleFiles(Staging* stage, const std::string& realPath, const std::vector<TableFile>& files)
{
    std::string leaf = LeafOf(realPath);
    DIR* d = opendir(FolderOf(realPath).c_str());
    if (!d)
        return;
    std::unordered_set<std::string> written;
    for (const TableFile& f : files)
        written.insert(leaf + f.suffix);
    while (struct dirent* e = readdir(d)) {
        if (!written.count(e->d_name) && OfNamingPattern(e->d_name, leaf))
            StageRemove(stage, JoinPath(FolderOf(realPath), e->d_name));
    }
    closedir(d);
}

}   // namespace

int ConvertTable(const std::string& kcsv, const std::string& realPath, const std::string& shownInput,
                 const ConvertOptions& options, std::vector<TableFile>* files, std::string* error)
{
    std::string corePath = CorePath(realPath);
    if (corePath.size() + strlen(".table") >= KCSV_PATH_MAX) {
        *error = realPath + ".table: the path is too long for the table's files (at most " +
                 std::to_string(KCSV_PATH_MAX - 1) + " bytes)";
        return KIV_EXIT_WRITE;
    }
    int rc = RefuseDamagedTable(kcsv, shownInput, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (!ConvertInMemory(kcsv, corePath, files)) {
        *error = shownInput + ": not a table the handheld writes, or it breaks off before its data";
        return KIV_EXIT_CONVERT;
    }
    if (options.utf8) {
        for (TableFile& f : *files) {
            if (ReadByPeople(f.suffix) && !Cp932ToUtf8(f.bytes, realPath + f.suffix, &f.bytes, error))
                return KIV_EXIT_CONVERT;
        }
    }
    return KIV_EXIT_OK;
}

std::string TableNameOf(const std::vector<TableFile>& files)
{
    std::string name, ignored;
    if (!Cp932ToUtf8(TableName(files), "", &name, &ignored) || !SafeFileName(name))
        return std::string();
    return name;
}

int CommitTable(const std::string* kcsv, const std::string& realPath, const std::vector<TableFile>& files,
                const ConvertOptions& options, bool replaceSet, std::vector<std::string>* written,
                std::string* error)
{
    Staging stage;
    int rc = StageOpen(&stage, FolderOf(realPath), error);
    if (rc == KIV_EXIT_OK && kcsv)
        rc = StageWrite(&stage, realPath, kcsv->data(), kcsv->size(), error);
    for (size_t i = 0; rc == KIV_EXIT_OK && i < files.size(); i++)
        rc = StageWrite(&stage, realPath + files[i].suffix, files[i].bytes.data(), files[i].bytes.size(),
                        error);
    if (rc == KIV_EXIT_OK && options.force && replaceSet)
        StageStaleFiles(&stage, realPath, files);
    if (rc == KIV_EXIT_OK)
        rc = StageCommit(&stage, options.force, written, error);
    StageClose(&stage);
    return rc;
}

// Without a folder the files go beside the Kcsv file, where the DLL puts them.
int KcsvFileToCsv(const std::string& kcsvPath, const std::string& dir, const ConvertOptions& options,
                  std::string* error)
{
    std::string kcsv;
    int rc = ReadWholeFile(kcsvPath, &kcsv, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    std::string realPath = JoinPath(dir.empty() ? FolderOf(kcsvPath) : dir, LeafOf(kcsvPath));
    std::vector<TableFile> files;
    rc = ConvertTable(kcsv, realPath, kcsvPath, options, &files, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    return CommitTable(nullptr, realPath, files, options, true, nullptr, error);
}
