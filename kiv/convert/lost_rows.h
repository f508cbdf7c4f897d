// The conversions read rows until the first one they cannot read (an empty
// line, an unquoted value, a quote left open) and take that as the end of the
// table, reporting success: every row after it would be dropped unseen. kiv
// refuses such an input instead, naming the line where the reading stops.
#pragma once
#include <string>

// 0 when every row of text (code page 932, read as the conversions read it)
// is read, blank lines at the end aside; otherwise the line, from 1, where
// the first unread row begins. With afterTitles, the rows before the "T"
// record are a Kcsv file's header and are passed over.
size_t FirstUnreadLine(const std::string& text, bool afterTitles);
