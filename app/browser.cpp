#include "app/browser.h"

#include "components/strx.h"
#include "components/winx.h"

namespace {
// The browser registered for "http", reached through the WinX hand-off.
class WinXBrowser : public VarkBrowser {
   public:
    void ReadAssoc(char* app, int size) override {
        WinX_ReadAssoc(&m_assoc, "http");
        StrX_CopyN(app, m_assoc.application, size);
    }
    bool Probe() override { return WinX_DdeProbe(&m_assoc); }
    void Request(const char* item, char* reply, int size) override {
        WinX_DdeRequest(&m_assoc, item, reply, size);
    }
    void OpenURL(const char* url) override {
        // A rooted path goes out in its native form (/home/u/outframe.htm):
        // a browser on this system knows no backslash paths.
        char native[512];
        StrX_CopyN(native, url, sizeof native);
        if (native[0] == '\\' && native[1] != '\\') StrX_ReplaceChar(native, '\\', '/');
        WinX_OpenURL(native);
    }

   private:
    WinX_Assoc m_assoc{};
};

WinXBrowser g_winx;
VarkBrowser* g_browser = &g_winx;
}  // namespace

VarkBrowser* VarkBrowser_Get() {
    return g_browser;
}

VarkBrowser* VarkBrowser_Set(VarkBrowser* browser) {
    VarkBrowser* old = g_browser;
    g_browser = browser ? browser : &g_winx;
    return old;
}
