// The table CSV's lines: RFC 4180 fields, quoted where a spreadsheet opened
// with its default import options would otherwise split or change a cell.
#pragma once
#include <string>
#include <vector>
#include "table_model.h"

// One line of cells, CR LF at its end. fields gives each cell's kind; null
// for the title row, whose cells are text.
std::string CsvLine(const std::vector<std::string>& cells, const std::vector<ModelField>* fields);
// The same into *line, whose room a caller writing row after row reuses.
void CsvLineInto(const std::vector<std::string>& cells, const std::vector<ModelField>* fields,
                 std::string* line);
