#include "platform/dde.h"

#include <poll.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/msgbox.h"
#include "support/fakebrowser.h"
#include "support/testsupport.h"

namespace {

// One client instance with a conversation to service on topic (null when
// none opens); everything is freed by DdeUninitialize.
class Client {
   public:
    Client(const char* service, const char* topic) {
        DdeInitializeA(&inst, nullptr, APPCMD_CLIENTONLY, 0);
        conv = DdeConnect(inst, DdeCreateStringHandleA(inst, service, CP_WINANSI),
                          DdeCreateStringHandleA(inst, topic, CP_WINANSI), nullptr);
    }
    ~Client() { DdeUninitialize(inst); }
    // The reply text of a request of item "-1", or "(null)".
    std::string Request(DWORD timeout = 1000) {
        HDDEDATA d = DdeClientTransaction(nullptr, 0, conv, DdeCreateStringHandleA(inst, "-1", 0),
                                          CF_TEXT, XTYP_REQUEST, timeout, nullptr);
        if (!d) return "(null)";
        DWORD n = 0;
        BYTE* p = DdeAccessData(d, &n);
        return std::string(reinterpret_cast<char*>(p), n);
    }
    bool Execute(const std::string& text, DWORD timeout = TIMEOUT_ASYNC) {
        return DdeClientTransaction(reinterpret_cast<const BYTE*>(text.data()),
                                    static_cast<DWORD>(text.size()), conv, nullptr, 0, XTYP_EXECUTE,
                                    timeout, nullptr) != nullptr;
    }
    DWORD inst = 0;
    HCONV conv = nullptr;
};

// A listening socket at the path of service and topic, driven by the test
// itself to play a service that misbehaves. Every wait is bounded: Accept
// gives -1 after 5 s, and an accepted socket's reads and writes time out.
class RawService {
   public:
    RawService(const char* service, const char* topic) {
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        std::string path = Dde_SocketPath(service, topic);
        strcpy(addr.sun_path, path.c_str());
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd_, 4);
    }
    ~RawService() { close(fd_); }
    int Accept() {
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) return -1;
        int fd = accept(fd_, nullptr, nullptr);
        timeval wait = {5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        return fd;
    }

   private:
    int fd_;
};

// Stops a server on every way out of a test.
struct ServerStopper {
    void operator()(Dde_Server* s) const { Dde_ServerStop(s); }
};
using ServerGuard = std::unique_ptr<Dde_Server, ServerStopper>;

// Waits until flag is set, at most ms; true when it was.
bool WaitFlag(const std::atomic<bool>& flag, int ms = 5000) {
    for (int waited = 0; !flag && waited < ms; waited++) usleep(1000);
    return flag;
}

// Reads one frame's header and payload; returns the payload ("" on error).
std::string ReadFrame(int fd, unsigned char* kind = nullptr, uint32_t* id = nullptr) {
    unsigned char head[9];
    if (recv(fd, head, 9, MSG_WAITALL) != 9) return "";
    uint32_t len = head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
    if (kind) *kind = head[4];
    if (id) *id = head[5] | head[6] << 8 | head[7] << 16 | static_cast<uint32_t>(head[8]) << 24;
    std::string payload(len, '\0');
    if (len && recv(fd, payload.data(), len, MSG_WAITALL) != static_cast<ssize_t>(len)) return "";
    return payload;
}

std::string Frame(unsigned char kind, uint32_t id, const std::string& payload, uint32_t len) {
    std::string out;
    for (int i = 0; i < 4; i++) out += static_cast<char>(len >> (8 * i));
    out += static_cast<char>(kind);
    for (int i = 0; i < 4; i++) out += static_cast<char>(id >> (8 * i));
    return out + payload;
}

class DdeTest : public testing::Test {
   protected:
    DesktopEnv env_;
};

TEST_F(DdeTest, SocketNamesStayInTheRuntimeFolder) {
    std::string folder = Dde_RuntimeFolder();
    ASSERT_EQ(env_.dir().path() + "/run/tessaly-dde", folder);
    const std::string names[] = {"IExplore", "../../etc/passwd", std::string(300, 'x'), "",
                                 "\x95\x5C\\/"};
    for (const std::string& n : names) {
        std::string path = Dde_SocketPath(n.c_str(), "WWW_OpenURL");
        EXPECT_EQ(folder + "/", path.substr(0, folder.size() + 1)) << n;
        EXPECT_EQ(std::string::npos, path.find('/', folder.size() + 1)) << n;
        EXPECT_LT(path.size(), sizeof(sockaddr_un{}.sun_path)) << n;
    }
    EXPECT_EQ(Dde_SocketPath("IExplore", "WWW_OpenURL"), Dde_SocketPath("iexplore", "www_openurl"));
    EXPECT_NE(Dde_SocketPath("IExplore", "WWW_OpenURL"),
              Dde_SocketPath("IExplore", "WWW_GetWindowInfo"));
    EXPECT_NE(Dde_SocketPath("a", "bc"), Dde_SocketPath("ab", "c"));
}

// The folder is used only when it is a folder (not a link, not a file) of
// this user with no access at all for the group or the others: each
// condition alone refuses it.
TEST_F(DdeTest, WithoutARuntimeFolderAPrivateOneIsUsedOnlyWhenSafe) {
    // TMPDIR goes back afterwards: later tests make their folders in it.
    struct RestoreTmpdir {
        std::string old = getenv("TMPDIR") ? getenv("TMPDIR") : "";
        ~RestoreTmpdir() { old.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", old.c_str(), 1); }
    } restore;
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", env_.dir().path().c_str(), 1);
    const std::string want = env_.dir().path() + "/tessaly-dde-" + std::to_string(geteuid());
    const std::string elsewhere = env_.dir().path() + "/elsewhere";
    mkdir(elsewhere.c_str(), 0700);
    auto remove = [&] {
        if (rmdir(want.c_str()) != 0) unlink(want.c_str());
    };
    auto folderWithMode = [&](mode_t mode) {
        return [&, mode] {
            mkdir(want.c_str(), 0700);
            chmod(want.c_str(), mode);
        };
    };
    const std::pair<const char*, std::function<void()>> setups[] = {
        {"made afresh", [] {}},
        {"0700", folderWithMode(0700)},
        {"0750", folderWithMode(0750)},
        {"0710", folderWithMode(0710)},
        {"0705", folderWithMode(0705)},
        {"0701", folderWithMode(0701)},
        {"0755", folderWithMode(0755)},
        {"a link to a private folder", [&] { symlink(elsewhere.c_str(), want.c_str()); }},
        {"a file", [&] { close(open(want.c_str(), O_CREAT | O_WRONLY, 0600)); }},
        {"another user's",
         [&] {
             mkdir(want.c_str(), 0700);
             EXPECT_EQ(0, chown(want.c_str(), geteuid() + 1, static_cast<gid_t>(-1)));
         }},
    };
    for (const auto& [name, setup] : setups) {
        if (geteuid() != 0 && std::string(name) == "another user's") continue;  // needs root
        remove();
        setup();
        const bool safe = std::string(name) == "made afresh" || std::string(name) == "0700";
        EXPECT_EQ(safe ? want : "", Dde_RuntimeFolder()) << name;
        EXPECT_EQ(safe, !Dde_SocketPath("IExplore", "WWW_OpenURL").empty()) << name;
    }
    remove();
    EXPECT_EQ(want, Dde_RuntimeFolder());
    struct stat st;
    ASSERT_EQ(0, lstat(want.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);  // made private
}

// A socket path must fit a socket address: the last length that fits (107
// bytes and the NUL) is used, one more is refused.
TEST_F(DdeTest, ASocketPathFitsItsAddressExactly) {
    const size_t room = sizeof(sockaddr_un{}.sun_path) - 1;  // 107
    const size_t tail = strlen("/tessaly-dde/s") + 16;
    if (env_.dir().path().size() + 1 + tail >= room) GTEST_SKIP() << "temporary folder too deep";
    for (size_t len : {room, room + 1}) {
        std::string runtime = env_.dir().path() + "/";
        runtime.append(len - tail - runtime.size(), 'r');
        mkdir(runtime.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const std::string path = Dde_SocketPath("IExplore", "WWW_OpenURL");
        EXPECT_EQ(len == room ? len : 0, path.size()) << len;
        FakeBrowser fake;
        EXPECT_EQ(len == room, fake.Start()) << len;
        EXPECT_EQ(len == room, Client("IExplore", "WWW_OpenURL").conv != nullptr) << len;
    }
}

TEST_F(DdeTest, OnlyTheSameUserMayTalk) {
    const struct {
        unsigned peer, own;
        bool want;
    } cases[] = {
        {1000, 1000, true}, {1001, 1000, false}, {0, 1000, false}, {1000, 0, false}, {0, 0, true}};
    for (const auto& c : cases)
        EXPECT_EQ(c.want, Dde_PeerAllowed(c.peer, c.own)) << c.peer << " to " << c.own;
    // A service of another user's does not answer this one.
    FakeBrowser fake;
    ServerGuard server(Dde_ServerStart("IExplore", {"WWW_OpenURL"}, &fake, geteuid() + 1));
    ASSERT_NE(nullptr, server);
    Client client("IExplore", "WWW_OpenURL");
    EXPECT_EQ(nullptr, client.conv);
    EXPECT_EQ(DMLERR_NO_CONV_ESTABLISHED, DdeGetLastError(client.inst));
}

// A conversation's request and execute reach the service (names without
// case); an unknown topic or a refusal opens none. Uninitialising frees every
// handle, and freed handles are refused afterwards, never followed.
TEST_F(DdeTest, AConversationReachesTheServiceAndUninitializeFreesEveryHandle) {
    FakeBrowser fake;
    ASSERT_TRUE(fake.Start());
    size_t before = Dde_LiveHandles();
    {
        Client client("iexplore", "www_getwindowinfo");
        ASSERT_NE(nullptr, client.conv);
        EXPECT_EQ("\"http://example.jp/now.htm\",\"Example\",\"\"", client.Request());
        EXPECT_EQ(before + 6, Dde_LiveHandles());  // the request's item handle and data stay
        EXPECT_TRUE(client.Execute("\"http://a/\",,-1", 1000));
        EXPECT_EQ(std::vector<std::string>{"\"http://a/\",,-1"}, fake.WaitOpened(1, 5000));
        EXPECT_EQ(nullptr, Client("IExplore", "WWW_Other").conv);
    }
    EXPECT_EQ(before, Dde_LiveHandles());
    fake.refuse = true;
    EXPECT_EQ(nullptr, Client("IExplore", "WWW_OpenURL").conv);

    DWORD inst = 0;
    DdeInitializeA(&inst, nullptr, APPCMD_CLIENTONLY, 0);
    HSZ s = DdeCreateStringHandleA(inst, "x", CP_WINANSI);
    EXPECT_EQ(1, DdeFreeStringHandle(inst, s));
    EXPECT_EQ(0, DdeFreeStringHandle(inst, s));
    EXPECT_EQ(nullptr, DdeCreateStringHandleA(inst, std::string(256, 'x').c_str(), CP_WINANSI));
    EXPECT_EQ(DMLERR_INVALIDPARAMETER, DdeGetLastError(inst));
    EXPECT_EQ(DMLERR_NO_ERROR, DdeGetLastError(inst));
    EXPECT_EQ(1, DdeUninitialize(inst));
    EXPECT_EQ(0, DdeUninitialize(inst));
    EXPECT_EQ(DMLERR_NOT_INITIALIZED, DdeGetLastError(inst));
}

TEST_F(DdeTest, APeerThatMisbehavesEndsOnlyItsConversation) {
    RawService raw("Bad", "T");
    std::atomic<int> step{0};
    // Joined on every way out; every wait of the service is bounded.
    std::jthread service([&] {
        // 1: closes in the middle of a reply; 2: announces more than the cap
        // and stays open until the client leaves (a client that waited for
        // the payload would time out instead); 3: takes an execute and
        // closes before the next one.
        for (int round = 1; round <= 3; round++) {
            int fd = raw.Accept();
            if (fd < 0) return;
            unsigned char kind;
            uint32_t id;
            ReadFrame(fd);
            send(fd, Frame(2, 0, "", 0).data(), 9, MSG_NOSIGNAL);
            if (round < 3) {
                ReadFrame(fd, &kind, &id);
                std::string reply = round == 1 ? Frame(5, id, "\"http://cut", 100)
                                               : Frame(5, id, "", Dde_MaxMessage + 1);
                send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                if (round == 2) ReadFrame(fd);
            }
            close(fd);
            step = round;
        }
    });
    for (int round = 1; round <= 2; round++) {
        Client client("Bad", "T");
        ASSERT_NE(nullptr, client.conv);
        EXPECT_EQ("(null)", client.Request(5000)) << round;
        EXPECT_EQ(DMLERR_SERVER_DIED, DdeGetLastError(client.inst)) << round;
    }
    {
        Client client("Bad", "T");
        ASSERT_NE(nullptr, client.conv);
        service.join();  // the service has closed its end
        // Sending to a closed peer fails; SIGPIPE would have ended the test.
        EXPECT_FALSE(client.Execute("x"));
        EXPECT_EQ(DMLERR_SERVER_DIED, DdeGetLastError(client.inst));
    }
    EXPECT_EQ(3, step.load());
}

// Answers are matched to their transaction by id: a request made after an
// asynchronous execute on the same conversation gets its own reply, not the
// execute's acknowledgement nor a stray reply of another id that comes first.
TEST_F(DdeTest, EachTransactionGetsTheAnswerOfItsOwnId) {
    RawService raw("Echo", "T");
    std::jthread service([&] {
        int fd = raw.Accept();
        if (fd < 0) return;
        ReadFrame(fd);
        send(fd, Frame(2, 0, "", 0).data(), 9, MSG_NOSIGNAL);
        uint32_t execId = 0, requestId = 0;
        ReadFrame(fd, nullptr, &execId);
        ReadFrame(fd, nullptr, &requestId);
        const std::string answers = Frame(5, requestId + 7, "stray", 5) + Frame(2, execId, "", 0) +
                                    Frame(5, requestId, "mine", 4);
        send(fd, answers.data(), answers.size(), MSG_NOSIGNAL);
        ReadFrame(fd);  // until the client closes
        close(fd);
    });
    Client client("Echo", "T");
    ASSERT_NE(nullptr, client.conv);
    EXPECT_TRUE(client.Execute("first"));
    EXPECT_EQ("mine", client.Request(5000));
}

// A service answers a conversation only for its own name and one of its
// topics (without case), each checked alone; any other first frame, or a
// request too short to name its format, ends the conversation.
TEST_F(DdeTest, AServiceChecksNameAndTopicOfEachConnect) {
    FakeBrowser fake;
    ASSERT_TRUE(fake.Start());
    // The kinds of the frames the service answers, in order, to frames sent
    // on a fresh socket conversation with IExplore on WWW_OpenURL (the
    // client's end closed after them, so the service ends it too).
    auto answers = [&](const std::string& frames) {
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, Dde_SocketPath("IExplore", "WWW_OpenURL").c_str());
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        timeval wait = {5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::string kinds = "(not sent)";
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            send(fd, frames.data(), frames.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(frames.size())) {
            shutdown(fd, SHUT_WR);
            kinds.clear();
            for (unsigned char kind = 0;; kind = 0) {
                ReadFrame(fd, &kind);
                if (!kind) break;
                kinds += std::to_string(kind) + " ";
            }
        }
        close(fd);
        return kinds;
    };
    auto connectFrame = [](const std::string& service, const std::string& topic) {
        const std::string hello = service + std::string(1, '\0') + topic;
        return Frame(1, 0, hello, static_cast<uint32_t>(hello.size()));
    };
    const std::string hello = connectFrame("IExplore", "WWW_OpenURL");
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"its name and topic", hello, "2 "},  // 2 acknowledges, 3 refuses
        {"in other cases", connectFrame("iEXPLORE", "www_openurl"), "2 "},
        {"another name", connectFrame("Other", "WWW_OpenURL"), "3 "},
        {"another topic", connectFrame("IExplore", "WWW_Other"), "3 "},
        {"no topic", Frame(1, 0, "IExplore", 8), "3 "},
        {"an execute first", Frame(6, 1, "x", 1), ""},
        {"a request of 4 bytes (refused item)", hello + Frame(4, 1, std::string(4, '\0'), 4),
         "2 3 "},
        {"a request of 3 bytes", hello + Frame(4, 1, std::string(3, '\0'), 3), "2 "},
    };
    for (const auto& [name, frames, want] : cases) EXPECT_EQ(want, answers(frames)) << name;
    EXPECT_TRUE(fake.WaitOpened(1, 100).empty());
}

// The limits of a string handle (255 bytes) and of a message (Dde_MaxMessage
// bytes, both ways): the last size accepted and the first refused.
TEST_F(DdeTest, SizesAreAcceptedUpToTheirLimitExactly) {
    FakeBrowser fake;
    ASSERT_TRUE(fake.Start());
    Client client("IExplore", "WWW_GetWindowInfo");
    ASSERT_NE(nullptr, client.conv);
    for (size_t n : {size_t{255}, size_t{256}}) {
        const bool fits = n == 255;
        EXPECT_EQ(fits, DdeCreateStringHandleA(client.inst, std::string(n, 'x').c_str(),
                                               CP_WINANSI) != nullptr)
            << n;
        EXPECT_EQ(fits ? DMLERR_NO_ERROR : DMLERR_INVALIDPARAMETER, DdeGetLastError(client.inst))
            << n;
    }
    for (size_t n : {Dde_MaxMessage, Dde_MaxMessage + 1}) {
        const bool fits = n == Dde_MaxMessage;
        const std::string text(n, 'e');
        EXPECT_EQ(fits, client.Execute(text, 5000)) << n;
        EXPECT_EQ(fits ? DMLERR_NO_ERROR : DMLERR_INVALIDPARAMETER, DdeGetLastError(client.inst))
            << n;
        fake.reply = std::string(n, 'r');
        const std::string got = client.Request(5000);
        EXPECT_EQ(fits ? n : 6, got.size()) << n << " " << got.substr(0, 10);
        EXPECT_EQ(fits ? DMLERR_NO_ERROR : DMLERR_NOTPROCESSED, DdeGetLastError(client.inst)) << n;
    }
    const auto opened = fake.WaitOpened(1, 5000);
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(Dde_MaxMessage, opened[0].size());
}

// A service whose request waits until the test lets it answer.
class SlowService : public Dde_Service {
   public:
    bool OnRequest(const std::string&, const std::string&, UINT, std::string* reply) override {
        if (!WaitFlag(release, 10000)) return false;
        *reply = "late";
        answered = true;
        return true;
    }
    bool OnExecute(const std::string&, const std::string&) override { return true; }
    std::atomic<bool> release{false}, answered{false};
};

TEST_F(DdeTest, AServiceOutlivesClientsThatLeaveOrSendGarbage) {
    SlowService slow;
    ServerGuard server(Dde_ServerStart("Slow", {"T"}, &slow));
    ASSERT_NE(nullptr, server);
    {
        // A client that gives up before the reply: the reply goes to a
        // closed socket.
        Client client("Slow", "T");
        ASSERT_NE(nullptr, client.conv);
        EXPECT_EQ("(null)", client.Request(50));
        EXPECT_EQ(DMLERR_DATAACKTIMEOUT, DdeGetLastError(client.inst));
    }
    slow.release = true;
    ASSERT_TRUE(WaitFlag(slow.answered));
    {
        // A raw client announcing a message over the cap is dropped.
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, Dde_SocketPath("Slow", "T").c_str());
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        const int connected = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (connected != 0) close(fd);
        ASSERT_EQ(0, connected);
        std::string huge = Frame(1, 0, "", Dde_MaxMessage + 1);
        send(fd, huge.data(), huge.size(), MSG_NOSIGNAL);
        timeval wait = {5, 0};  // a service that waited for the payload fails, not hangs
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char c;
        EXPECT_EQ(0, recv(fd, &c, 1, 0));  // closed by the service
        close(fd);
    }
    Client client("Slow", "T");
    ASSERT_NE(nullptr, client.conv);
    EXPECT_EQ("late", client.Request());
}

TEST_F(DdeTest, LauncherReportsAnXdgOpenThatCannotStart) {
    setenv("PATH", env_.Bin().c_str(), 1);  // holds no xdg-open
    MsgBox_Recorder boxes;
    MsgBox_SetBackend(&boxes);
    Client client("Launcher", "WWW_OpenURL");
    EXPECT_FALSE(client.Execute("http://example.jp/"));
    EXPECT_EQ(DMLERR_NOTPROCESSED, DdeGetLastError(client.inst));
    MsgBox_SetBackend(nullptr);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_NE(std::string::npos, boxes.boxes[0].text.find("xdg-open")) << Utf8(boxes.boxes[0].text);
    EXPECT_NE(std::string::npos, boxes.boxes[0].text.find("http://example.jp/"));
}

}  // namespace
