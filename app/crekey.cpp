#include "app/crekey.h"

#include "components/inifile.h"

void CreKey_WriteHeader(IniWriter* writer, const char* base, const char* dispTarget) {
    CreKey_WriteHeaderAt(writer, base, dispTarget, time(nullptr));
}

void CreKey_WriteHeaderAt(IniWriter* writer, const char* base, const char* dispTarget,
                          time_t updateTime) {
    IniFile_WriteSection(writer, "main");
    IniFile_WriteAttr(writer, "Application", "s", "Tessaly!");
    IniFile_WriteAttr(writer, "Version", "i", 100);
    IniFile_WriteAttr(writer, "bNewFile", "i", 0);
    IniFile_WriteAttr(writer, "Base", "s", base);
    IniFile_WriteAttr(writer, "Update", "t", &updateTime);
    IniFile_WriteAttr(writer, "bCanUpdate", "i", 1);
    IniFile_WriteAttr(writer, "DispURL", "s", "(default)");
    IniFile_WriteAttr(writer, "DispTarget", "s", dispTarget);
    IniFile_WriteSection(writer, "links");
}

void CreKey_WriteLink(IniWriter* writer, const char* title, const char* keywords,
                      const char* relPath) {
    IniFile_WriteAttr(writer, "A", "sss", title, keywords, relPath);
}
