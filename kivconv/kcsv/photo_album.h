// Picture fields of received tables: how the table description declares them,
// the fixed layout of the handheld's photo album, and the image files that the
// data records' pictures become.
//
// An FK_IMAGE field's sub-kind says where its format comes from:
//   PICTURE_BY_FORMAT_FIELD (9)  aux1 is the index of the field holding the
//                                format code (3, 5, 6), or -1; aux2 a second
//                                related field, or -1
//   10 to 20                     a picture group: the fields with that number
//                                hold one picture in different formats, aux1
//                                giving each field's format (0 JPEG, 1 GIF,
//                                2 PNG, 99 or -1 none); the group has one column
//   anything else                the format itself: 0 JPEG, 1 GIF, 2 PNG,
//                                other values give no file
#pragma once
#include <cstddef>
#include "csv/csv_record.h"
#include "kcsv/kcsv_format.h"

const int PICTURE_BY_FORMAT_FIELD = 9;
const int PICTURE_GROUP_FIRST = 10;
const int PICTURE_GROUP_LAST = 20;
const int PICTURE_GROUP_LISTED = 99;   // sub-kind of a group's layout line

// The "M" record's box file of the photo album.
extern const char* const ALBUM_BOX_NAME;   // "KPINPANT.BOX"
// The album's picture column: its "T" slot gets this title (写真).
const int ALBUM_PICTURE_SLOT = 9;
extern const char* const ALBUM_PICTURE_TITLE;

inline bool IsPictureGroup(const TableField& f)
{
    return f.kind == FK_IMAGE && f.subKind >= PICTURE_GROUP_FIRST && f.subKind <= PICTURE_GROUP_LAST;
}

// The album's fixed layout: its name, 14 fields in columns 7 to 20, one
// picture group over columns 9 to 12. Identifiers are left as they are.
void InstallAlbumLayout(TableLayout* layout);

// A REC_IMAGES record's data (what follows its 6-byte head): the image list
// (TAG_IMAGE_LIST) declares fields of sub-kind 9 and their format fields, each
// format list (TAG_IMAGE_FORMATS) one picture group, numbered from 10 within
// the record. Items are read by the low byte of their tag and length, so each
// is shorter than 256 bytes; entry counts are cut to what the item holds.
void DeclarePictureFields(const unsigned char* data, size_t size, TableLayout* layout);

// The picture of field i (FK_IMAGE) in a data record: the 3TO4 text that holds
// it and its format (IMG_JPEG, IMG_GIF, IMG_PNG, or 0 for no file). False when
// field i belongs to the picture group handled last in this record (*lastGroup,
// -1 at each record's start): such a field has no column of its own.
bool ChoosePicture(const TableLayout* layout, const CsvRecord* record, int i, int* lastGroup,
                   const char** text, int* format);

// Decodes the picture into "<path>.<counter>.jpg" (.gif, .png) and puts that
// name into name. False, with an empty name and no file left, when the name
// does not fit in nameSize or the file cannot be written.
bool WritePictureFile(const char* path, int counter, int format, const char* text, char* name,
                      size_t nameSize);
