// The search window's door to the web browser: the "http" association, the
// DDE conversation that asks the browser for its current page, and the
// hand-off of the display page.
//
// The window talks to whatever VarkBrowser_Get returns: by default the
// browser registered for "http", reached through the WinX hand-off (a rooted
// page path goes out in its native form); tests install a scripted one. Texts are CP932. Calls are
// made on the user-interface thread only.
#pragma once

class VarkBrowser {
   public:
    virtual ~VarkBrowser() = default;
    // Reads the association of the "http" protocol and copies its DDE
    // application name into app (size bytes, cut).
    virtual void ReadAssoc(char* app, int size) = 0;
    // True when a DDE conversation with the association's application and
    // topic can be opened now.
    virtual bool Probe() = 0;
    // Asks the browser for a data item (starting it first when no
    // conversation can be opened) and copies the reply into reply (size bytes).
    // A failed request is reported through the error core.
    virtual void Request(const char* item, char* reply, int size) = 0;
    // Hands a path or URL (inside form) to the browser.
    virtual void OpenURL(const char* url) = 0;
};

// The browser in use (never nullptr).
VarkBrowser* VarkBrowser_Get();
// Installs browser (not owned; nullptr: the WinX one) and returns the one it replaces.
VarkBrowser* VarkBrowser_Set(VarkBrowser* browser);
