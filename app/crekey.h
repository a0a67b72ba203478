// The keyword database writer: the header and the page lines of vark.kwf.
//
// The writer is an open IniWriter (components/inifile.h) on the database
// path; these operations only emit lines, in file order: CreKey_WriteHeader
// once, CreKey_WriteLink once per page, then the caller closes the writer.
// The layout and the readers are in kwf.h. Texts are CP932. Write failures
// are the attribute-file writer's.
#pragma once

#include <ctime>

struct IniWriter;

// Writes the section head "main", the keys Application "Tessaly!", Version
// 100, bNewFile 0, Base = base, Update = the current time, bCanUpdate 1,
// DispURL "(default)", DispTarget = dispTarget, then the section head "links".
void CreKey_WriteHeader(IniWriter* writer, const char* base, const char* dispTarget);
// The same with Update = updateTime instead of the current time.
void CreKey_WriteHeaderAt(IniWriter* writer, const char* base, const char* dispTarget,
                          time_t updateTime);
// Writes one page line "A = title, keywords, relPath" (each value quoted
// when it holds a comma or a double quote or begins or ends with a blank).
void CreKey_WriteLink(IniWriter* writer, const char* title, const char* keywords,
                      const char* relPath);
