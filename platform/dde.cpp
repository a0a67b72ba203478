#include "platform/dde.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/process.h"

struct Dde_String {
    DWORD inst;
    std::string text;
};

struct Dde_Data {
    DWORD inst;
    std::string bytes;  // std::string keeps a NUL after them
};

struct Dde_Conv {
    DWORD inst;
    bool launcher;  // the built-in service: no socket
    int fd;
    uint32_t nextId;
};

namespace {

// Monotonic milliseconds: deadlines are points on this clock. (<chrono> holds
// a literal that cannot be compiled for the CP932 execution character set.)
int64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

// Message kinds of the wire: a 4-byte payload length, a kind byte and a
// 4-byte transaction id (little-endian), then the payload.
enum Kind : unsigned char {
    Kind_Connect = 1,  // service NUL topic
    Kind_Ack = 2,
    Kind_Nack = 3,
    Kind_Request = 4,  // 4-byte format, item
    Kind_Data = 5,     // the reply's bytes
    Kind_Execute = 6,  // the command text
};
constexpr size_t kHeader = 9;
constexpr int kConnectReplyMs = 1000;
constexpr int kRetryMs = 20;

struct Instance {
    PFNCALLBACK callback;
    UINT lastError = DMLERR_NO_ERROR;
    std::set<Dde_String*> strings;
    std::set<Dde_Data*> datas;
    std::set<Dde_Conv*> convs;
};

std::mutex g_mutex;
std::map<DWORD, Instance> g_instances;
DWORD g_nextInst = 1;

// ---- Frames ----

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out += static_cast<char>(v >> (8 * i) & 0xFF);
}

uint32_t get32(const char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(p[i]);
    return v;
}

// A frame's header as read from the wire.
struct Header {
    uint32_t len;  // of the payload that follows
    Kind kind;
    uint32_t id;  // the transaction an answer belongs to
};

// Reads the kHeader bytes at p; false when the payload announced is over the cap.
bool parseHeader(const char* p, Header* head) {
    head->len = get32(p);
    head->kind = static_cast<Kind>(p[4]);
    head->id = get32(p + 5);
    return head->len <= Dde_MaxMessage;
}

std::string frame(Kind kind, uint32_t id, std::string_view payload) {
    std::string out;
    put32(out, static_cast<uint32_t>(payload.size()));
    out += static_cast<char>(kind);
    put32(out, id);
    out += payload;
    return out;
}

// Sends all bytes; a closed peer gives false, never SIGPIPE.
bool sendAll(int fd, const std::string& bytes, int flags = 0) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | flags);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int msLeft(int64_t deadline) {
    int64_t left = deadline - nowMs();
    return left < 0 ? 0 : static_cast<int>(left);
}

enum RecvResult { Recv_Ok, Recv_Timeout, Recv_Broken };

// Reads exactly n bytes before the deadline.
RecvResult recvExact(int fd, char* out, size_t n, int64_t deadline) {
    size_t got = 0;
    while (got < n) {
        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, msLeft(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Recv_Broken;
        if (r == 0) return Recv_Timeout;
        ssize_t k = recv(fd, out + got, n - got, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return Recv_Broken;
        got += static_cast<size_t>(k);
    }
    return Recv_Ok;
}

// Reads one frame before the deadline; a payload over the cap is Recv_Broken.
RecvResult recvFrame(int fd, int64_t deadline, Header* head, std::string* payload) {
    char bytes[kHeader];
    RecvResult r = recvExact(fd, bytes, kHeader, deadline);
    if (r != Recv_Ok) return r;
    if (!parseHeader(bytes, head)) return Recv_Broken;
    payload->assign(head->len, '\0');
    return head->len ? recvExact(fd, payload->data(), head->len, deadline) : Recv_Ok;
}

// ---- Names ----

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); i++) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (CodePage_IsLead(c) && i + 1 < out.size())
            i++;
        else
            out[i] = static_cast<char>(CodePage_ToLower(c));
    }
    return out;
}

// A folder that lstat shows as a folder of this user, closed to the others.
bool privateFolder(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string makePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return "";
    return privateFolder(path) ? path : "";
}

bool peerUid(int fd, unsigned* uid) {
    ucred cred;
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    *uid = cred.uid;
    return true;
}

bool fillAddress(const std::string& path, sockaddr_un* addr) {
    if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// ---- Instances ----

Instance* findInstance(DWORD inst) {
    auto it = g_instances.find(inst);
    return it == g_instances.end() ? nullptr : &it->second;
}

// The instance of a live conversation; nullptr when it is not one.
Instance* convInstance(HCONV conv) {
    for (auto& [id, in] : g_instances)
        if (in.convs.count(conv)) return &in;
    return nullptr;
}

void closeConv(Dde_Conv* c) {
    if (c->fd >= 0) close(c->fd);
    delete c;
}

// The text as the launcher hands it on: a native path or a URL. A rooted
// inside path (either separator) has its escapes decoded; a URL is only
// converted to UTF-8, its escapes are the browser's.
std::string launcherTarget(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    const bool rooted = !text.empty() && (text[0] == '\\' || text[0] == '/');
    return rooted ? Fs_ToNative(text) : CodePage_SjisToUtf8(text);
}

bool launcherExecute(const std::string& text) {
    int err = Process_Spawn({"xdg-open", launcherTarget(text)});
    if (err == 0) return true;
    std::string msg = "xdg-open を起動できませんでした（" + CodePage_Utf8ToSjis(strerror(err)) +
                      "）。\r\n\r\n" + text;
    MsgBox_Show("エラーメッセージ", msg.c_str(), MsgBox_OK, MsgBox_IconError);
    return false;
}

// Opens a socket conversation with service on topic; -1 when none.
int connectSocket(const std::string& service, const std::string& topic) {
    sockaddr_un addr;
    if (!fillAddress(Dde_SocketPath(service.c_str(), topic.c_str()), &addr)) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    unsigned uid;
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              peerUid(fd, &uid) && Dde_PeerAllowed(uid, geteuid());
    std::string hello = service;
    hello += '\0';
    hello += topic;
    ok = ok && sendAll(fd, frame(Kind_Connect, 0, hello));
    Header head;
    std::string payload;
    int64_t deadline = nowMs() + kConnectReplyMs;
    ok = ok && recvFrame(fd, deadline, &head, &payload) == Recv_Ok && head.kind == Kind_Ack;
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

// ---- The client ----

UINT DdeInitializeA(DWORD* inst, PFNCALLBACK callback, DWORD, DWORD) {
    if (!inst || *inst != 0) return DMLERR_INVALIDPARAMETER;
    std::lock_guard<std::mutex> lock(g_mutex);
    DWORD id = g_nextInst++;
    if (g_nextInst == 0) g_nextInst = 1;
    g_instances[id].callback = callback;
    *inst = id;
    return DMLERR_NO_ERROR;
}

BOOL DdeUninitialize(DWORD inst) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance* in = findInstance(inst);
    if (!in) return 0;
    for (Dde_String* s : in->strings) delete s;
    for (Dde_Data* d : in->datas) delete d;
    for (Dde_Conv* c : in->convs) closeConv(c);
    g_instances.erase(inst);
    return 1;
}

UINT DdeGetLastError(DWORD inst) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance* in = findInstance(inst);
    if (!in) return DMLERR_NOT_INITIALIZED;
    UINT e = in->lastError;
    in->lastError = DMLERR_NO_ERROR;
    return e;
}

HSZ DdeCreateStringHandleA(DWORD inst, const char* text, int codePage) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance* in = findInstance(inst);
    if (!in) return nullptr;
    if (!text || strlen(text) > 255 || (codePage != CP_WINANSI && codePage != 0)) {
        in->lastError = DMLERR_INVALIDPARAMETER;
        return nullptr;
    }
    HSZ h = new Dde_String{inst, text};
    in->strings.insert(h);
    return h;
}

BOOL DdeFreeStringHandle(DWORD inst, HSZ hsz) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance* in = findInstance(inst);
    if (!in || !in->strings.erase(hsz)) return 0;
    delete hsz;
    return 1;
}

HCONV DdeConnect(DWORD inst, HSZ service, HSZ topic, const void*) {
    std::string svc, top;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Instance* in = findInstance(inst);
        if (!in) return nullptr;
        if (!in->strings.count(service) || !in->strings.count(topic)) {
            in->lastError = DMLERR_INVALIDPARAMETER;
            return nullptr;
        }
        svc = service->text;
        top = topic->text;
    }
    bool launcher = lowerAscii(svc) == "launcher";
    int fd = launcher ? -1 : connectSocket(svc, top);
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance* in = findInstance(inst);
    if (!in || (!launcher && fd < 0)) {
        if (fd >= 0) close(fd);
        if (in) in->lastError = DMLERR_NO_CONV_ESTABLISHED;
        return nullptr;
    }
    HCONV c = new Dde_Conv{inst, launcher, fd, 1};
    in->convs.insert(c);
    return c;
}

HCONV Dde_ConnectUntil(DWORD inst, HSZ service, HSZ topic, int waitMs) {
    int64_t deadline = nowMs() + (waitMs < 0 ? 0 : waitMs);
    for (;;) {
        HCONV c = DdeConnect(inst, service, topic, nullptr);
        if (c || nowMs() >= deadline) return c;
        int pause = std::min(kRetryMs, msLeft(deadline));
        timespec ts = {0, pause * 1000000L};
        nanosleep(&ts, nullptr);
    }
}

namespace {

// Sends one client frame and, when awaited, reads frames until the one that
// answers id: its payload goes to *reply. Returns a DMLERR_* code: the
// server gone, timeoutError when the deadline passes, DMLERR_NOTPROCESSED
// when the answer is not of the kind expected.
UINT exchange(int fd, int64_t deadline, const std::string& request, uint32_t id, bool await,
              Kind expected, UINT timeoutError, std::string* reply) {
    if (!sendAll(fd, request)) return DMLERR_SERVER_DIED;
    if (!await) return DMLERR_NO_ERROR;
    Header head;
    RecvResult r;
    do {
        r = recvFrame(fd, deadline, &head, reply);
    } while (r == Recv_Ok && head.id != id);
    if (r == Recv_Timeout) return timeoutError;
    if (r == Recv_Broken) return DMLERR_SERVER_DIED;
    return head.kind == expected ? DMLERR_NO_ERROR : DMLERR_NOTPROCESSED;
}

}  // namespace

BOOL DdeDisconnect(HCONV conv) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance* in = convInstance(conv);
    if (!in) return 0;
    in->convs.erase(conv);
    closeConv(conv);
    return 1;
}

HDDEDATA DdeClientTransaction(const BYTE* data, DWORD len, HCONV conv, HSZ item, UINT fmt,
                              UINT type, DWORD timeout, DWORD* result) {
    if (result) *result = 0;
    DWORD inst;
    bool launcher;
    int fd;
    uint32_t id;
    std::string itemName;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Instance* in = convInstance(conv);
        if (!in) return nullptr;
        inst = conv->inst;
        launcher = conv->launcher;
        fd = conv->fd;
        id = conv->nextId++;
        if (type == XTYP_REQUEST && !in->strings.count(item)) {
            in->lastError = DMLERR_INVALIDPARAMETER;
            return nullptr;
        }
        if (type == XTYP_REQUEST) itemName = item->text;
    }
    int64_t deadline = nowMs() + (timeout == TIMEOUT_ASYNC ? 0 : int64_t{timeout});
    UINT error = DMLERR_NO_ERROR;
    std::string reply;
    if (type == XTYP_EXECUTE) {
        if (len > Dde_MaxMessage || (len && !data)) {
            error = DMLERR_INVALIDPARAMETER;
        } else {
            std::string text(reinterpret_cast<const char*>(data), len);
            if (launcher) {
                // A text is NUL-terminated when its length counts the NUL.
                text.resize(strnlen(text.data(), text.size()));
                if (!launcherExecute(text)) error = DMLERR_NOTPROCESSED;
            } else {
                std::string ack;
                error = exchange(fd, deadline, frame(Kind_Execute, id, text), id,
                                 timeout != TIMEOUT_ASYNC, Kind_Ack, DMLERR_EXECACKTIMEOUT, &ack);
            }
        }
    } else if (type == XTYP_REQUEST) {
        std::string payload;
        put32(payload, fmt);
        payload += itemName;
        if (launcher)
            error = DMLERR_NOTPROCESSED;
        else
            error = exchange(fd, deadline, frame(Kind_Request, id, payload), id, true, Kind_Data,
                             DMLERR_DATAACKTIMEOUT, &reply);
    } else {
        error = DMLERR_NOTPROCESSED;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance* in = findInstance(inst);
    if (!in) return nullptr;
    if (error != DMLERR_NO_ERROR) {
        in->lastError = error;
        return nullptr;
    }
    if (result) *result = DDE_FACK;
    HDDEDATA h = new Dde_Data{inst, type == XTYP_REQUEST ? reply : std::string()};
    in->datas.insert(h);
    return h;
}

BYTE* DdeAccessData(HDDEDATA data, DWORD* size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [id, in] : g_instances) {
        if (!in.datas.count(data)) continue;
        if (size) *size = static_cast<DWORD>(data->bytes.size());
        return reinterpret_cast<BYTE*>(data->bytes.data());
    }
    return nullptr;
}

BOOL DdeUnaccessData(HDDEDATA data) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [id, in] : g_instances)
        if (in.datas.count(data)) return 1;
    return 0;
}

BOOL DdeFreeDataHandle(HDDEDATA data) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [id, in] : g_instances) {
        if (!in.datas.erase(data)) continue;
        delete data;
        return 1;
    }
    return 0;
}

size_t Dde_LiveHandles() {
    std::lock_guard<std::mutex> lock(g_mutex);
    size_t n = g_instances.size();
    for (auto& [id, in] : g_instances) n += in.strings.size() + in.datas.size() + in.convs.size();
    return n;
}

// ---- Names and users ----

std::string Dde_RuntimeFolder() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return makePrivateFolder(std::string(runtime) + "/tessaly-dde");
    const char* tmp = getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    return makePrivateFolder(base + "/tessaly-dde-" + std::to_string(geteuid()));
}

std::string Dde_SocketPath(const char* service, const char* topic) {
    std::string folder = Dde_RuntimeFolder();
    if (folder.empty()) return "";
    // FNV-1a over the lowered names, a separator between them.
    uint64_t h = 0xcbf29ce484222325ull;
    std::string key = lowerAscii(service ? service : "") + '\n' + lowerAscii(topic ? topic : "");
    for (unsigned char c : key) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    char name[32];
    snprintf(name, sizeof name, "/s%016llx", static_cast<unsigned long long>(h));
    std::string path = folder + name;
    return path.size() < sizeof(sockaddr_un{}.sun_path) ? path : "";
}

bool Dde_PeerAllowed(unsigned peerUid, unsigned ownUid) {
    return peerUid == ownUid;
}

// ---- The server side ----

struct Dde_Server {
    struct Conn {
        int fd;
        std::string in;     // bytes received and not yet handled
        std::string topic;  // empty until the conversation is accepted
    };
    std::string service;
    std::vector<std::string> topics;
    std::vector<std::string> paths;
    std::vector<int> listeners;
    std::vector<Conn> conns;
    Dde_Service* handler;
    unsigned allowUid;
    int wake[2] = {-1, -1};
    std::thread thread;
};

namespace {

// Handles the complete frames in conn.in; false ends the conversation.
bool serveFrames(Dde_Server* s, Dde_Server::Conn& conn) {
    while (conn.in.size() >= kHeader) {
        Header head;
        if (!parseHeader(conn.in.data(), &head)) return false;
        if (conn.in.size() < kHeader + head.len) return true;
        const Kind kind = head.kind;
        const uint32_t id = head.id;
        std::string payload = conn.in.substr(kHeader, head.len);
        conn.in.erase(0, kHeader + head.len);
        std::string answer;
        if (kind == Kind_Connect && conn.topic.empty()) {
            size_t nul = payload.find('\0');
            std::string svc = payload.substr(0, nul);
            std::string top = nul == std::string::npos ? "" : payload.substr(nul + 1);
            // The handler sees the topic as the service spells it.
            std::string known;
            for (const std::string& t : s->topics)
                if (lowerAscii(t) == lowerAscii(top)) known = t;
            bool ok = !known.empty() && lowerAscii(svc) == lowerAscii(s->service) &&
                      s->handler->OnConnect(known);
            if (ok) conn.topic = known;
            answer = frame(ok ? Kind_Ack : Kind_Nack, id, "");
        } else if (conn.topic.empty()) {
            return false;
        } else if (kind == Kind_Request && payload.size() >= 4) {
            std::string reply;
            bool ok = s->handler->OnRequest(conn.topic, payload.substr(4), get32(payload.data()),
                                            &reply) &&
                      reply.size() <= Dde_MaxMessage;
            answer = ok ? frame(Kind_Data, id, reply) : frame(Kind_Nack, id, "");
        } else if (kind == Kind_Execute) {
            answer =
                frame(s->handler->OnExecute(conn.topic, payload) ? Kind_Ack : Kind_Nack, id, "");
        } else {
            return false;
        }
        // A client that is gone or does not read its replies is dropped.
        if (!sendAll(conn.fd, answer, MSG_DONTWAIT)) return false;
    }
    return true;
}

void serve(Dde_Server* s) {
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({s->wake[0], POLLIN, 0});
        for (int l : s->listeners) fds.push_back({l, POLLIN, 0});
        for (const auto& c : s->conns) fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        size_t nl = s->listeners.size();
        for (size_t i = 0; i < nl; i++) {
            if (!fds[1 + i].revents) continue;
            int fd = accept4(s->listeners[i], nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            unsigned uid;
            if (!peerUid(fd, &uid) || !Dde_PeerAllowed(uid, s->allowUid)) {
                close(fd);
                continue;
            }
            s->conns.push_back({fd, "", ""});
        }
        std::vector<Dde_Server::Conn> kept;
        for (size_t i = 0; i < s->conns.size(); i++) {
            Dde_Server::Conn& c = s->conns[i];
            size_t slot = 1 + nl + i;
            bool alive = true;
            if (slot < fds.size() && fds[slot].revents) {
                char buf[4096];
                ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) {
                    c.in.append(buf, static_cast<size_t>(n));
                    alive = serveFrames(s, c);
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    alive = false;
                }
            }
            if (alive)
                kept.push_back(std::move(c));
            else
                close(c.fd);
        }
        s->conns = std::move(kept);
    }
}

void freeServer(Dde_Server* s) {
    for (int l : s->listeners) close(l);
    for (const std::string& p : s->paths) unlink(p.c_str());
    for (const auto& c : s->conns) close(c.fd);
    if (s->wake[0] >= 0) close(s->wake[0]);
    if (s->wake[1] >= 0) close(s->wake[1]);
    delete s;
}

}  // namespace

Dde_Server* Dde_ServerStart(const char* service, const std::vector<std::string>& topics,
                            Dde_Service* handler, long allowUid) {
    Dde_Server* s = new Dde_Server;
    s->service = service ? service : "";
    s->topics = topics;
    s->handler = handler;
    s->allowUid = allowUid < 0 ? geteuid() : static_cast<unsigned>(allowUid);
    bool ok = pipe2(s->wake, O_CLOEXEC) == 0;
    for (const std::string& t : topics) {
        if (!ok) break;
        sockaddr_un addr;
        std::string path = Dde_SocketPath(s->service.c_str(), t.c_str());
        ok = fillAddress(path, &addr);
        if (!ok) break;
        // A live server already answers there: leave it alone.
        int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool live =
            probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0) close(probe);
        if (live) {
            ok = false;
            break;
        }
        unlink(path.c_str());
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (ok) s->paths.push_back(path);
        ok = ok && chmod(path.c_str(), 0600) == 0 && listen(fd, 16) == 0;
        if (fd >= 0) s->listeners.push_back(fd);
    }
    if (!ok) {
        freeServer(s);
        return nullptr;
    }
    s->thread = std::thread(serve, s);
    return s;
}

void Dde_ServerStop(Dde_Server* server) {
    if (!server) return;
    char b = 1;
    while (write(server->wake[1], &b, 1) < 0 && errno == EINTR) {
    }
    server->thread.join();
    freeServer(server);
}
