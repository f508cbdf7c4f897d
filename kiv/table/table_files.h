// The files a Kcsv table converts to, held in memory until they are
// committed beside the path they were converted for.
#pragma once
#include <string>
#include <vector>
#include "kiv_convert.h"

struct TableFile {
    std::string suffix;   // what the core appended to the converted path
    std::string bytes;
};

// Converts kcsv as if it lay at realPath: the files' names and the picture
// paths in the record file follow it. shownInput names the table in errors.
int ConvertTable(const std::string& kcsv, const std::string& realPath, const std::string& shownInput,
                 const ConvertOptions& options, std::vector<TableFile>* files, std::string* error);
// The table's name from its layout, when it makes a safe file name; else "".
std::string TableNameOf(const std::vector<TableFile>& files);
// Stages kcsv (when not null) as realPath and the files beside it, and
// renames them into place. With replaceSet the set's record is written
// too, and under force the files an older record names that this table does
// not write go in the same commit.
int CommitTable(const std::string* kcsv, const std::string& realPath, const std::vector<TableFile>& files,
                const ConvertOptions& options, bool replaceSet, std::vector<std::string>* written,
                std::string* error);
// base, or the first of its numbered names ("v1.2-2", "v1.2-3", ...) for
// which no name + suffix exists; base itself when none is free.
std::string FreePathFor(const std::string& base, const std::vector<std::string>& suffixes);
// A received table's Kcsv file committed first and alone; when it cannot be
// written the block is kept by KeepBlock and *error says where. afterKcsv
// runs once it is in place.
int CommitReceivedKcsv(const ReceivedTable& table, const ConvertOptions& options,
                       std::vector<std::string>* written, std::string* error, AfterKcsv afterKcsv);
