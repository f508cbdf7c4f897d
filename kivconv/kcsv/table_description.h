// The table description of a received Kcsv file: the chunk file that its "P"
// record carries, read for the fields' kinds, the table name and the picture
// fields.
#pragma once
#include <cstddef>
#include "kcsv/kcsv_format.h"

// Every field back to FK_TEXT with sub-kind and auxiliary values 0, and an
// empty name. The fields' identifiers and columns (from the "I" record) stay.
void ClearTableKinds(TableLayout* layout);

// Index of the field whose identifier is these four bytes (a shorter
// identifier is zero-filled, as TableField keeps it), or -1.
int FindTableField(const TableLayout* layout, const unsigned char id[4]);

// Clears the kinds, then walks the decoded description in data[0, size) and
// applies what it declares: the name (REC_TABLE), the field descriptors
// (REC_FIELD) and the picture fields (REC_IMAGES). Whatever the bytes, the
// walk moves forward and stays inside data: a record or item whose length is
// shorter than its head or reaches past what holds it ends the walk there.
void ApplyTableDescription(const unsigned char* data, size_t size, TableLayout* layout);
