#include "app/browser.h"

namespace {
VarkBrowser* g_browser = nullptr;
}

VarkBrowser* VarkBrowser_Get() {
    return g_browser;
}

VarkBrowser* VarkBrowser_Set(VarkBrowser* browser) {
    VarkBrowser* old = g_browser;
    g_browser = browser;
    return old;
}
