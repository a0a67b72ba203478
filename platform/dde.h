// The DDE channel: a client shaped like the Windows DDE management library
// (DDEML) and a small server side, over Unix sockets.
//
// A service listens on one socket per topic in the user's runtime folder
// (Dde_RuntimeFolder: a folder only this user may enter). The socket's name is
// a hash of the ASCII-lowercased service and topic, so no name read from the
// registry can lead outside that folder or past the length of a socket
// address. Both ends check the other's user from the socket's peer
// credentials: a service answers only a client of its own user, and a client
// talks only to a service of its own user, so no other local user can make
// the browser open a page or answer in its place. Messages are framed and
// capped at Dde_MaxMessage bytes; a peer that sends more, sends garbage or
// closes in the middle ends its conversation, never the program (sends use
// MSG_NOSIGNAL).
//
// One service is built in: "Launcher" (any case) answers every connection
// inside this process, on any topic; its execute opens the text with
// xdg-open: a rooted inside path (\home\u\out.htm) as the native path
// (/home/u/out.htm), anything else (a URL) converted to UTF-8; one pair of
// double quotes around the text is dropped. When xdg-open cannot be started,
// a message box says so and the transaction fails with DMLERR_NOTPROCESSED.
//
// Handles (string, data, conversation) belong to the instance that made them;
// a handle that is not live in its instance is refused, never followed.
// DdeUninitialize frees every handle and closes every socket of its
// instance. Texts are CP932 bytes (CP_WINANSI). Thread safety: every call may
// be made from any thread; one conversation must not be used by two threads at
// once. A server answers on a thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

using UINT = unsigned;
using BOOL = int;
using ULONG_PTR = uintptr_t;

struct Dde_String;
struct Dde_Conv;
struct Dde_Data;
using HSZ = Dde_String*;
using HCONV = Dde_Conv*;
using HDDEDATA = Dde_Data*;

// The instance's callback. Only a server of the Windows library calls it;
// this client keeps it and never calls it.
using PFNCALLBACK = HDDEDATA (*)(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                 ULONG_PTR data1, ULONG_PTR data2);

inline constexpr DWORD APPCMD_CLIENTONLY = 0x00000010;
inline constexpr int CP_WINANSI = 1004;
inline constexpr UINT CF_TEXT = 1;
inline constexpr UINT XTYP_ADVDATA = 0x4010;
inline constexpr UINT XTYP_EXECUTE = 0x4050;
inline constexpr UINT XTYP_REQUEST = 0x20B0;
inline constexpr DWORD TIMEOUT_ASYNC = 0xFFFFFFFF;
inline constexpr UINT DDE_FACK = 0x8000;

inline constexpr UINT DMLERR_NO_ERROR = 0;
inline constexpr UINT DMLERR_ADVACKTIMEOUT = 0x4000;
inline constexpr UINT DMLERR_BUSY = 0x4001;
inline constexpr UINT DMLERR_DATAACKTIMEOUT = 0x4002;
inline constexpr UINT DMLERR_NOT_INITIALIZED = 0x4003;
inline constexpr UINT DMLERR_DLL_USAGE = 0x4004;
inline constexpr UINT DMLERR_EXECACKTIMEOUT = 0x4005;
inline constexpr UINT DMLERR_INVALIDPARAMETER = 0x4006;
inline constexpr UINT DMLERR_LOW_MEMORY = 0x4007;
inline constexpr UINT DMLERR_MEMORY_ERROR = 0x4008;
inline constexpr UINT DMLERR_NOTPROCESSED = 0x4009;
inline constexpr UINT DMLERR_NO_CONV_ESTABLISHED = 0x400A;
inline constexpr UINT DMLERR_POKEACKTIMEOUT = 0x400B;
inline constexpr UINT DMLERR_POSTMSG_FAILED = 0x400C;
inline constexpr UINT DMLERR_REENTRANCY = 0x400D;
inline constexpr UINT DMLERR_SERVER_DIED = 0x400E;
inline constexpr UINT DMLERR_SYS_ERROR = 0x400F;
inline constexpr UINT DMLERR_UNADVACKTIMEOUT = 0x4010;
inline constexpr UINT DMLERR_UNFOUND_QUEUE_ID = 0x4011;

// The largest message either end sends or accepts (a request's reply, an
// execute's text), in bytes.
inline constexpr size_t Dde_MaxMessage = 65536;

// ---- The client ----

// Makes a new instance; *inst must be 0 and receives its id (never 0).
// Returns DMLERR_NO_ERROR, or DMLERR_INVALIDPARAMETER for a null inst or a
// non-zero *inst.
UINT DdeInitializeA(DWORD* inst, PFNCALLBACK callback, DWORD commands, DWORD reserved);

// Frees every string handle, data handle and conversation of the instance and
// the instance itself. FALSE for an unknown instance.
BOOL DdeUninitialize(DWORD inst);

// Returns the instance's last error and clears it; DMLERR_NOT_INITIALIZED for
// an unknown instance.
UINT DdeGetLastError(DWORD inst);

// Makes a string handle for text (at most 255 bytes; codePage CP_WINANSI or
// 0). Null, with DMLERR_INVALIDPARAMETER, for a longer or null text or
// another code page.
HSZ DdeCreateStringHandleA(DWORD inst, const char* text, int codePage);

// Frees a string handle of the instance; FALSE when it is not one.
BOOL DdeFreeStringHandle(DWORD inst, HSZ hsz);

// Opens a conversation with service on topic. Null, with
// DMLERR_NO_CONV_ESTABLISHED, when no such service answers (or it answers
// for another user, or refuses the topic) within about a second.
HCONV DdeConnect(DWORD inst, HSZ service, HSZ topic, const void* context);

// Connects as DdeConnect, again and again until a conversation opens or
// waitMs milliseconds have passed (a program just started needs time to
// begin to listen). Null, with DMLERR_NO_CONV_ESTABLISHED, at the deadline.
HCONV Dde_ConnectUntil(DWORD inst, HSZ service, HSZ topic, int waitMs);

// Closes a conversation; FALSE when it is not a live one.
BOOL DdeDisconnect(HCONV conv);

// One transaction of the conversation:
// - XTYP_EXECUTE sends len bytes of data (the command text). With
//   TIMEOUT_ASYNC it returns non-null once the text is sent; otherwise it
//   waits timeout ms for the service's acknowledgement (DMLERR_EXECACKTIMEOUT,
//   DMLERR_NOTPROCESSED when refused).
// - XTYP_REQUEST asks for item in format fmt and waits at most timeout ms:
//   returns a data handle of the instance with the reply, or null with
//   DMLERR_DATAACKTIMEOUT (no reply in time), DMLERR_NOTPROCESSED (refused)
//   or DMLERR_SERVER_DIED (the service closed or sent a bad message).
// A null or dead conversation gives null (no instance to record an error
// in: the last error of the instance stays what it was). *result, when
// given, is set to DDE_FACK on success, else 0.
HDDEDATA DdeClientTransaction(const BYTE* data, DWORD len, HCONV conv, HSZ item, UINT fmt,
                              UINT type, DWORD timeout, DWORD* result);

// Returns the bytes of a data handle (followed by a NUL that is not counted)
// and sets *size (when given) to their count; null for a handle that is not
// live.
BYTE* DdeAccessData(HDDEDATA data, DWORD* size);
BOOL DdeUnaccessData(HDDEDATA data);
// Frees a data handle; FALSE when it is not a live one.
BOOL DdeFreeDataHandle(HDDEDATA data);

// The number of live handles (strings, data, conversations) and instances in
// the process, for tests of clean-up.
size_t Dde_LiveHandles();

// ---- Names and users ----

// The folder where services listen, made when missing: "tessaly-dde" in
// $XDG_RUNTIME_DIR; without it, "tessaly-dde-<uid>" in $TMPDIR (else /tmp).
// The folder is accepted only when lstat shows a folder (not a link) owned by
// this user with no access for group or others. Empty when there is none.
std::string Dde_RuntimeFolder();

// The socket path of service and topic: the runtime folder and a hash of the
// ASCII-lowercased names. Empty when there is no runtime folder or the path
// would not fit a socket address.
std::string Dde_SocketPath(const char* service, const char* topic);

// True when a peer of user peerUid may talk with a process of user ownUid:
// only the same user.
bool Dde_PeerAllowed(unsigned peerUid, unsigned ownUid);

// ---- The server side ----

// What a service does; called on the server's thread.
class Dde_Service {
   public:
    virtual ~Dde_Service() = default;
    // True to accept a conversation on topic.
    virtual bool OnConnect(const std::string& topic) { return !topic.empty(); }
    // Fills *reply for a request of item in format fmt; false refuses it.
    virtual bool OnRequest(const std::string& topic, const std::string& item, UINT fmt,
                           std::string* reply) = 0;
    // Carries out an execute; false refuses it.
    virtual bool OnExecute(const std::string& topic, const std::string& text) = 0;
};

struct Dde_Server;

// Starts serving service on each topic (one socket each, made afresh; a
// socket of a live server of the same names is left alone and the start
// fails). Clients are accepted when Dde_PeerAllowed(their user, allowUid);
// allowUid < 0 means this process's user. Null when a socket cannot be made.
// The handler is not owned and must outlive the server.
Dde_Server* Dde_ServerStart(const char* service, const std::vector<std::string>& topics,
                            Dde_Service* handler, long allowUid = -1);

// Stops the server: its thread ends, its sockets are closed and removed.
void Dde_ServerStop(Dde_Server* server);
