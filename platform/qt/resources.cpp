#include "platform/qt/resources.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {
struct Store {
    std::string folder;
    std::vector<Res_Dialog> dialogs;
    std::map<int, std::string> strings;
    std::map<int, std::string> icons;
};
Store g_res;

// Splits a line into words; a double-quoted run is one word (quotes removed).
// Returns false for an unterminated quote.
bool splitWords(const std::string& line, std::vector<std::string>* words) {
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
        } else if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) return false;
            words->push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = line.find_first_of(" \t\r", i);
            if (end == std::string::npos) end = line.size();
            words->push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return true;
}

bool toInt(const std::string& word, int* value) {
    char* end = nullptr;
    long v = strtol(word.c_str(), &end, 10);
    if (word.empty() || *end) return false;
    *value = static_cast<int>(v);
    return true;
}

bool kindOf(const std::string& word, Res_Kind* kind) {
    static const std::pair<const char*, Res_Kind> kKinds[] = {
        {"STATIC", Res_Static}, {"ICON", Res_Icon},           {"EDIT", Res_Edit},
        {"BUTTON", Res_Button}, {"DEFBUTTON", Res_DefButton}, {"PROGRESS", Res_Progress}};
    for (auto& [name, k] : kKinds)
        if (word == name) {
            *kind = k;
            return true;
        }
    return false;
}

// Parses one control line (words[0] is its kind).
bool parseControl(const std::vector<std::string>& w, Res_Control* c) {
    if (w.size() < 7 || !kindOf(w[0], &c->kind)) return false;
    if (!toInt(w[1], &c->id) || !toInt(w[2], &c->x) || !toInt(w[3], &c->y) ||
        !toInt(w[4], &c->cx) || !toInt(w[5], &c->cy))
        return false;
    c->text = w[6];
    c->flags = 0;
    for (size_t i = 7; i < w.size(); ++i) {
        if (w[i] == "HIDDEN")
            c->flags |= Res_Hidden;
        else if (w[i] == "AUTOHSCROLL")
            c->flags |= Res_AutoHScroll;
        else
            return false;
    }
    return true;
}
}  // namespace

bool Res_Load(const std::string& nativeFolder, std::string* error) {
    std::ifstream in(nativeFolder + "/tessaly.rc", std::ios::binary);
    if (!in) {
        *error = "cannot read " + nativeFolder + "/tessaly.rc";
        return false;
    }
    Store store;
    store.folder = nativeFolder;
    Res_Dialog* open = nullptr;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::vector<std::string> w;
        auto fail = [&](const char* why) {
            *error = "tessaly.rc(" + std::to_string(number) + "): " + why;
            return false;
        };
        if (!splitWords(line, &w)) return fail("unterminated quote");
        if (w.empty() || w[0].rfind("//", 0) == 0) continue;
        if (w[0] == "DIALOG") {
            Res_Dialog d{};
            if (open || w.size() != 5 || !toInt(w[1], &d.id) || !toInt(w[2], &d.cx) ||
                !toInt(w[3], &d.cy))
                return fail("bad DIALOG line");
            d.title = w[4];
            d.fontPoints = 9;
            store.dialogs.push_back(d);
            open = &store.dialogs.back();
        } else if (w[0] == "FONT") {
            if (!open || w.size() != 3 || !toInt(w[1], &open->fontPoints))
                return fail("bad FONT line");
            open->fontFace = w[2];
        } else if (w[0] == "END") {
            if (!open) return fail("END outside a dialog");
            open = nullptr;
        } else if (w[0] == "STRING" || (w[0] == "ICON" && !open)) {
            int id = 0;
            if (w.size() != 3 || !toInt(w[1], &id)) return fail("bad STRING or ICON line");
            (w[0] == "STRING" ? store.strings : store.icons)[id] = w[2];
        } else {
            Res_Control c{};
            if (!open || !parseControl(w, &c)) return fail("bad control line");
            open->controls.push_back(c);
        }
    }
    if (open) {
        *error = "tessaly.rc: dialog without END";
        return false;
    }
    g_res = std::move(store);
    return true;
}

const std::string& Res_Folder() {
    return g_res.folder;
}

const Res_Dialog* Res_FindDialog(int id) {
    for (const Res_Dialog& d : g_res.dialogs)
        if (d.id == id) return &d;
    return nullptr;
}

std::string Res_LoadString(int id) {
    auto it = g_res.strings.find(id);
    return it == g_res.strings.end() ? std::string() : it->second;
}

std::string Res_IconPath(int id) {
    auto it = g_res.icons.find(id);
    return it == g_res.icons.end() ? std::string() : g_res.folder + "/" + it->second;
}
