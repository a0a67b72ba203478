// Names for failure messages: a test's case names and error codes printed so
// that a failure says which case and which error, in UTF-8 on any terminal.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "components/errors.h"
#include "platform/codepage.h"

// A case name or input in CP932 as readable UTF-8: each character with an
// exact form as itself; a control byte as \r, \n, \t or \xNN; a byte (or a
// lead and trail pair) with no character as \xNN. So "A\t= x\r\n" prints as
// A\t= x\r\n and "\x95\x5C" as 表.
inline std::string Shown(std::string_view sjis) {
    std::string out;
    char hex[8];
    for (size_t i = 0; i < sjis.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(sjis[i]);
        if (c == '\r' || c == '\n' || c == '\t') {
            out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
            continue;
        }
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            continue;
        }
        const size_t n = CodePage_IsLead(c) && i + 1 < sjis.size() ? 2 : 1;
        bool exact = true;
        const std::string utf8 =
            c < 0x20 || c == 0x7F ? std::string() : CodePage_SjisToUtf8(sjis.substr(i, n), &exact);
        if (exact && !utf8.empty()) {
            out += utf8;
        } else {
            for (size_t k = 0; k < n; k++) {
                snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(sjis[i + k]));
                out += hex;
            }
        }
        i += n - 1;
    }
    return out;
}

// An error code with the name of its id: "595 IniFile_Err_FewAttr", "0 none".
// Compare CodeName(want) with CodeName(got) so that a failure names both.
inline std::string CodeName(int code) {
    static const Errors_Id kIds[] = {
        Errors_Unofficial,
        Errors_NotSupport,
        Errors_BadCheckSum,
        BigStack_Full,
        BLex2_Err_DefferentKakkoType,
        BLex2_Err_BinaryCannotParse,
        BLex2_Err_NoCommentEnd,
        FileX_Err_EOF,
        FileX_Err_CannotWriteOpen,
        FileX_Err_CannotReadOpen,
        FileX_Err_CannotWrite,
        IniFile_NotFoundSection,
        IniFile_Err_FewBuf,
        IniFile_Err_BadFormat,
        IniFile_Err_FewData,
        IniFile_Err_FewAttr,
        IniFile_Err_BadAttr,
        ArrX_Err_Full,
        StrX_Err_MemEmpty,
        NestFind_Err_OverNest,
        NestFind_Err_OverBuf,
        {Errors_Code_EndProgram, "end of the program"},
        {BLex2_Code_RecordFull, "BLex2 record full"},
        {Except3_Code_Fatal, "Except3 fatal"},
        {0, "none"},
    };
    for (const Errors_Id& id : kIds)
        if (id.code == code) return std::to_string(code) + " " + id.name;
    return std::to_string(code);
}
