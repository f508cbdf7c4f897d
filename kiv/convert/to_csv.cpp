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
#include <cerrno>
#include <cstdio>
#include <unistd.h>
#include "bytefile.h"
#include "textstream.h"

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
    if (rc == KIV_EXIT_OK && replaceSet)
        rc = StageSetRecord(&stage, FolderOf(realPath), LeafOf(realPath), LeafOf(realPath), options.force,
                            error);
    if (rc == KIV_EXIT_OK)
        rc = StageCommit(&stage, options.force, written, error);
    StageClose(&stage);
    return rc;
}

// ---- a Kcsv file converted a record at a time ---------------------------------

namespace {

// While a file converts, the core's outputs are files of the stage: every
// name it opens under the core path is a staged file instead, listed in the
// order the core made them, so that nothing of the table is held in memory
// and the record file still names the pictures where they will lie.
struct CoreOutputs {
    Staging* stage;
    std::string corePath, realPath;
    std::vector<std::pair<std::string, std::string>> files;   // suffix, staged path; not the pictures
};
CoreOutputs* routedOutputs = nullptr;   // set only while the core converts

// A picture's suffix, ".N.EXT": a table of many pictures has one name a
// picture, so pictures are staged under their own names, not listed here.
bool PictureSuffix(const char* suffix)
{
    const char* dot = strrchr(suffix, '.');
    size_t digits = dot && dot > suffix ? strspn(suffix + 1, "0123456789") : 0;
    return suffix[0] == '.' && digits > 0 && suffix + 1 + digits == dot && !strchr(dot, '/');
}

// The staged file of a core name; nullptr for a name of no output.
std::pair<std::string, std::string>* OutputOf(const char* path)
{
    const std::string& core = routedOutputs->corePath;
    if (strncmp(path, core.c_str(), core.size()) != 0 || !path[core.size()])
        return nullptr;
    for (auto& file : routedOutputs->files)
        if (file.first == path + core.size())
            return &file;
    return nullptr;
}

void* OutputOpen(const char* path, FileAccess access)
{
    const std::string& core = routedOutputs->corePath;
    bool output = strncmp(path, core.c_str(), core.size()) == 0 && path[core.size()];
    if (output && PictureSuffix(path + core.size())) {
        // The stdio form's handle is the FILE itself.
        std::string ignored;
        int fd = access == BF_CREATE
                     ? StagePictureOpen(routedOutputs->stage, routedOutputs->realPath + (path + core.size()),
                                        &ignored)
                     : -1;
        FILE* f = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (fd >= 0 && !f)
            close(fd);
        return f;
    }
    auto* file = OutputOf(path);
    if (output && !file && access == BF_CREATE) {
        routedOutputs->files.emplace_back(path + core.size(), StageName(routedOutputs->stage, ""));
        file = &routedOutputs->files.back();
    }
    if (output && !file)
        return nullptr;
    return stdioFiles.open(output ? file->second.c_str() : path, access);
}

bool OutputRemove(const char* path)
{
    const std::string& core = routedOutputs->corePath;
    // A picture cut short: its staged copy goes, and with it the picture.
    if (strncmp(path, core.c_str(), core.size()) == 0 && PictureSuffix(path + core.size())) {
        Staging* stage = routedOutputs->stage;
        std::string leaf = LeafOf(routedOutputs->realPath + (path + core.size()));
        return stage->picturesFd >= 0 && unlinkat(stage->picturesFd, leaf.c_str(), 0) == 0;
    }
    auto* file = OutputOf(path);
    if (!file)
        return stdioFiles.remove(path);
    bool removed = stdioFiles.remove(file->second.c_str());
    routedOutputs->files.erase(routedOutputs->files.begin() + (file - routedOutputs->files.data()));
    return removed;
}

const FileForm kOutputFiles = {OutputOpen,      stdioFiles.read,  stdioFiles.write,
                               stdioFiles.seek, stdioFiles.close, OutputRemove};

// The core over the Kcsv file, its outputs into the stage.
bool ConvertIntoStage(const std::string& kcsvPath, CoreOutputs* outputs)
{
    TextStream* input = TextOpenRead(kcsvPath.c_str());
    if (!input)
        return false;
    routedOutputs = outputs;
    RouteFiles(&kOutputFiles);
    bool ok = ConvertKcsvStream(input, outputs->corePath.c_str());
    RouteFiles(nullptr);
    routedOutputs = nullptr;
    TextClose(input);
    return ok;
}

// A staged file of code page 932 text as UTF-8, a piece of whole lines at a
// time (no character spans a line end); name is the output's, for a message.
int StagedToUtf8(Staging* stage, std::string* staged, const std::string& name, std::string* error)
{
    std::string utf8Path = StageName(stage, ""), piece, carry, utf8;
    FILE* in = fopen(staged->c_str(), "rb");
    FILE* out = in ? fopen(utf8Path.c_str(), "wb") : nullptr;
    int rc = in && out ? KIV_EXIT_OK : KIV_EXIT_WRITE;
    size_t lines = 0;
    char buffer[1 << 16];
    for (size_t n = 1; rc == KIV_EXIT_OK && n > 0;) {
        n = fread(buffer, 1, sizeof buffer, in);
        const char* lineEnd = n ? (const char*)memrchr(buffer, '\n', n) : nullptr;
        size_t take = n == 0 ? 0 : lineEnd ? (size_t)(lineEnd - buffer) + 1 : n;
        piece.swap(carry);
        piece.append(buffer, take);
        carry.assign(buffer + take, n - take);
        if (!lineEnd && n > 0) {
            carry.insert(0, piece);
            piece.clear();
            continue;
        }
        if (!Cp932ToUtf8(piece, name, &utf8, error)) {
            // Again with the lines before it, for the line number in the message.
            Cp932ToUtf8(std::string(lines, '\n') + piece, name, &utf8, error);
            rc = KIV_EXIT_CONVERT;
        } else if (fwrite(utf8.data(), 1, utf8.size(), out) != utf8.size()) {
            rc = KIV_EXIT_WRITE;
        }
        for (char ch : piece)
            lines += ch == '\n';
    }
    if (in && ferror(in) && rc == KIV_EXIT_OK)
        rc = KIV_EXIT_WRITE;
    if (out && fclose(out) != 0 && rc == KIV_EXIT_OK)
        rc = KIV_EXIT_WRITE;
    if (in)
        fclose(in);
    if (rc == KIV_EXIT_WRITE)
        *error = "cannot write " + name + ": " + strerror(errno ? errno : EIO);
    unlink(staged->c_str());
    *staged = utf8Path;
    return rc;
}

// The staged outputs under their final names, as CommitTable stages them.
int CommitOutputs(CoreOutputs* outputs, const std::string& realPath, const ConvertOptions& options,
                  std::string* error)
{
    int rc = KIV_EXIT_OK;
    for (auto& file : outputs->files) {
        if (rc == KIV_EXIT_OK && options.utf8 && ReadByPeople(file.first))
            rc = StagedToUtf8(outputs->stage, &file.second, realPath + file.first, error);
        StageAdd(outputs->stage, file.second, realPath + file.first);
    }
    // The stage lists them now; a table of many pictures need not list them twice.
    std::vector<std::pair<std::string, std::string>>().swap(outputs->files);
    if (rc == KIV_EXIT_OK)
        rc = StageSetRecord(outputs->stage, FolderOf(realPath), LeafOf(realPath), LeafOf(realPath),
                            options.force, error);
    if (rc == KIV_EXIT_OK)
        rc = StageCommit(outputs->stage, options.force, nullptr, error);
    return rc;
}

}   // namespace

// Without a folder the files go beside the Kcsv file, where the DLL puts
// them. The file is read twice and never held: once to check it, then by the
// core, which writes each record as it reads it.
int KcsvFileToCsv(const std::string& kcsvPath, const std::string& dir, const ConvertOptions& options,
                  std::string* error)
{
    std::string fault;
    int rc = CheckTableFile(kcsvPath, kcsvPath, &fault, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    std::string realPath = JoinPath(dir.empty() ? FolderOf(kcsvPath) : dir, LeafOf(kcsvPath));
    std::string corePath = CorePath(realPath);
    if (corePath.size() + strlen(".table") >= KCSV_PATH_MAX) {
        *error = realPath + ".table: the path is too long for the table's files (at most " +
                 std::to_string(KCSV_PATH_MAX - 1) + " bytes)";
        return KIV_EXIT_WRITE;
    }
    if (!fault.empty()) {
        *error = fault;
        return KIV_EXIT_CONVERT;
    }
    Staging stage;
    CoreOutputs outputs = {&stage, corePath, realPath, {}};
    rc = StageOpen(&stage, FolderOf(realPath), error);
    if (rc == KIV_EXIT_OK && !ConvertIntoStage(kcsvPath, &outputs)) {
        *error = kcsvPath + ": not a table the handheld writes, or it breaks off before its data";
        rc = KIV_EXIT_CONVERT;
    }
    if (rc == KIV_EXIT_OK)
        rc = CommitOutputs(&outputs, realPath, options, error);
    StageClose(&stage);
    return rc;
}
