// KVEL_Common: the utility library every part of the program builds on.
// Paths, file reading, number parsing, diagnostics, threads and locks,
// buffers and strings, the serial port list and sleeping. Plain C++ on std
// and POSIX; the pixel-buffer drawing lives apart in KVEL_CommonDraw.h.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Size, in characters including the terminating zero, of every path buffer
// the functions below fill. Longer results are refused, never written past.
constexpr size_t KVEL_MAX_PATH = 260;

// ---------------------------------------------------------------------------
// Text encoding. The "ANSI code page" of the program is UTF-8; every narrow
// <-> wide conversion in the program goes through these two helpers.
// Invalid UTF-8 bytes become U+FFFD; they never stop the conversion.
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
// `text` cut to at most `maxBytes` bytes, between characters: a limit kept
// in bytes never leaves half a character for the next reader.
std::string CutAnsi(std::string text, size_t maxBytes);

// ---------------------------------------------------------------------------
// Files and paths. Output buffers hold KVEL_MAX_PATH wide characters.

// The folder of the running executable of process `pid` (callers pass the
// current process ID), without a trailing separator.
bool GetProgramPathW(uint32_t pid, wchar_t* out);
// The folder of this program: GetProgramPathW for the running process.
bool GetOwnProgramPathW(wchar_t* out);
// The kinds of file the program writes for its user.
enum class UserFileKind {
    kSettings,  // appConfig.xml
    kLogs,      // the run logs (the caller adds "Log")
    kData,      // what the user saves: scans, parameter files
};
// The folder for a kind of file. The program's own folder while this user
// may write there, as in the build tree or a portable copy. An installed
// program folder is read-only to its users: then the user's XDG base folder
// for the kind ($XDG_CONFIG_HOME, $XDG_STATE_HOME, $XDG_DATA_HOME, or their
// defaults under $HOME) with a folder named after the program, created when
// missing. False when neither can be had.
bool GetUserFileFolderW(UserFileKind kind, wchar_t* out);
// folder + "/" + name. `out` may be the same buffer as `folder` or `name`.
// A result that does not fit leaves `out` empty and returns false.
bool CombinePathNameW(wchar_t* out, const wchar_t* folder, const wchar_t* name);
// Creates the folder and every missing parent. True when it exists afterwards.
bool RecursiveCreateDirectoryW(const wchar_t* path);
// True when a regular file or folder exists at `path`.
bool IsFileExistW(const wchar_t* path);
// The extension of the file name part of `path`, without the dot; a pointer
// into `path` (an empty text when there is none).
const char* GetFileExtNameA(const char* path);
const wchar_t* GetFileExtNameW(const wchar_t* path);
// The name part of `path` (after the last separator) into `out`.
bool GetFileShortNameW(wchar_t* out, const wchar_t* path);
// prefix + local date-and-time stamp + suffix + extension into `out`. The
// stamp "YYYYMMDD_HHMMSS_mmm" sorts by time. The three trailing values are
// accepted for the callers' sake and have no further meaning here.
bool GetFileNameByDateW(wchar_t* out, const wchar_t* extension, const wchar_t* prefix,
                        const wchar_t* suffix, int reserved0, int reserved1, int reserved2);
// The version text embedded in the executable file at `path` (see
// KVEL_EMBED_FILE_VERSION) into `out` (at most outChars characters with the
// terminator). False and an empty text when the file carries none.
bool GetFileVersionW(const wchar_t* path, wchar_t* out, size_t outChars);
// Reads the whole file. Returns its size; *data receives a buffer owned by
// the library (zero-terminated one byte past the end, for text parsers), or
// nullptr and 0 when the file cannot be read. Free with ReleaseFileData.
size_t ReadFileDataW(const wchar_t* path, uint8_t** data);
void ReleaseFileData(uint8_t* data);

// Embeds a version text in the executable that expands this macro once, in
// a form GetFileVersionW finds by reading the file.
#define KVEL_FILE_VERSION_MARKER "KVEL-FILE-VERSION:"
#define KVEL_EMBED_FILE_VERSION(text)                                                              \
    extern "C" __attribute__((used, visibility("default"))) const char kvelEmbeddedFileVersion[] = \
        KVEL_FILE_VERSION_MARKER text "\0"

// ---------------------------------------------------------------------------
// Numbers. Parses decimal or "0x" hexadecimal text (leading blanks skipped,
// one optional sign) into *target, whose type is chosen by `type`:
//   2  on/off flag in an int32_t (any nonzero number gives 1)
//   5  int32_t     6  uint32_t     10  double
// `length` is the number of characters to look at (-1: up to the zero).
// Returns true when a number was read. Empty or unparsable text returns
// false and leaves *target unchanged. Out-of-range integers saturate to the
// type's limits; a '-' on an unsigned type wraps as C's strtoul does
// ("-1" -> 4294967295), which is what files written from signed fields hold.
bool DigtalStringToValue(const char* text, int length, void* target, int type);
bool DigtalStringToValue(const wchar_t* text, int length, void* target, int type);
// The types above by name.
constexpr int kDigitalInt32 = 5;
constexpr int kDigitalUInt32 = 6;
constexpr int kDigitalDouble = 10;

// ---------------------------------------------------------------------------
// Diagnostics. A line is formatted, decorated (tag, time stamp, PID/TID as
// set below) and handed to every registered callback. Safe from any thread,
// also while callbacks are added and removed. Level 2 is the level the
// program uses throughout.
using DbgOutputCallback = int (*)(void* user, intptr_t reserved, const char* text, int length);
void DbgOutputA(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void DbgOutputVA(int level, const char* format, va_list args);
bool DbgOutputAddCallback(DbgOutputCallback callback, void* user);
bool DbgOutputDelCallback(DbgOutputCallback callback);
// Tag text put in front of every line; (nullptr or 0, 0) for none.
void DbgOutputSetTag(const char* tag, int reserved);
// 0: no time stamp; 1: local "YYYY-MM-DD HH:MM:SS.mmm " in front of the line.
void DbgOutputSetTimeType(int type);
// Nonzero: "[pid:tid] " in front of the line.
void DbgOutputSetIncludePIDTID(int include);
// Also write every line to standard error (off unless a program asks).
void DbgOutputSetStderr(bool enabled);
// Lines of a lower level are dropped (default 0: every line passes).
void DbgOutputSetMinimumLevel(int level);

// ---------------------------------------------------------------------------
// Threads and locks.
class IThreadFuncInterface {
public:
    virtual ~IThreadFuncInterface() = default;
    // The thread body; `param` is the value given to StartThread.
    virtual int ThreadFunc(uint64_t param) = 0;
};

class CBaseThread {
public:
    CBaseThread() = default;
    ~CBaseThread();  // waits for a running body, as StopThread does
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // Runs body->ThreadFunc(param) on a new thread named `name`. Returns
    // nonzero on success; 0 when a body is still running or no thread could
    // be made. The trailing values are accepted for the callers' sake
    // (stackSize is honoured as the thread's stack size where it is > 0).
    int StartThread(const char* name, IThreadFuncInterface* body, uint64_t param, int reserved0,
                    int stackSize, int reserved1);
    // Returns after the body has returned (at once when none runs). The body
    // is told to end by its owner's own stop flag, set before this call.
    void StopThread();
    bool IsRunning() const;

private:
    struct State;
    State* m_state = nullptr;
};

class CBaseLock {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

class CAutoBaseLock {
public:
    explicit CAutoBaseLock(CBaseLock& lock) : m_lock(lock) { m_lock.Lock(); }
    explicit CAutoBaseLock(CBaseLock* lock) : CAutoBaseLock(*lock) {}
    ~CAutoBaseLock() { m_lock.Unlock(); }
    CAutoBaseLock(const CAutoBaseLock&) = delete;
    CAutoBaseLock& operator=(const CAutoBaseLock&) = delete;

private:
    CBaseLock& m_lock;
};

void HQ_Sleep(uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Containers and strings.

// A growable byte buffer: `buffer size` bytes of storage of which the first
// `avail size` bytes are in use.
class CBaseBuffer {
public:
    CBaseBuffer() = default;
    ~CBaseBuffer();
    CBaseBuffer(const CBaseBuffer&) = delete;
    CBaseBuffer& operator=(const CBaseBuffer&) = delete;

    bool AppendBuffer(const void* data, size_t size);
    // Replaces the contents by a copy of `size` bytes; `data` may point into
    // this buffer's own contents (it is then moved, not copied over itself).
    bool SetBuffer(const void* data, size_t size);
    // Makes room for at least `size` bytes; keeps the contents.
    bool SetBufferSize(size_t size);
    // Sets the count of bytes in use (at most the buffer size).
    bool SetAvailSize(size_t size);
    uint8_t* GetBuffer() const { return m_data; }
    size_t GetAvailSize() const { return m_avail; }
    size_t GetBufferSize() const { return m_capacity; }
    void Delete();  // frees the storage

private:
    uint8_t* m_data = nullptr;
    size_t m_avail = 0;
    size_t m_capacity = 0;
};

template <typename Char>
class CBaseStringT {
public:
    CBaseStringT() = default;
    CBaseStringT(const Char* text) {
        if (text) m_text = text;
    }
    // printf-style formatting; the result replaces the contents.
    bool Format(const Char* format, ...);
    const Char* GetString() const { return m_text.c_str(); }
    size_t GetLength() const { return m_text.size(); }
    void SetString(const Char* text) { m_text = text ? text : std::basic_string<Char>(); }
    void SetString(const Char* text, size_t length) { m_text.assign(text, length); }

private:
    std::basic_string<Char> m_text;
};
using CBaseStringA = CBaseStringT<char>;
using CBaseStringW = CBaseStringT<wchar_t>;

// Pointer sequences. They own nothing: callers free what they put in.
class CPtrArrayCtrl {
public:
    // Inserts at `index`; -1 (or any index past the end) appends. Returns the
    // position used.
    int Add(void* item, int index = -1);
    int GetCount() const { return static_cast<int>(m_items.size()); }
    void* GetAt(int index) const;  // nullptr outside the range
    bool SetAt(int index, void* item);
    bool RemoveAt(int index);
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<void*> m_items;
};

class CPtrListCtrl {
public:
    int AddHead(void* item);
    int AddTail(void* item);
    int Add(void* item, int index = -1);  // -1 appends
    int GetCount() const { return static_cast<int>(m_items.size()); }
    void* GetAt(int index) const;
    bool RemoveAt(int index);
    void* RemoveHead();
    void* RemoveTail();
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<void*> m_items;
};

// ---------------------------------------------------------------------------
// Serial ports (numbering: docs/ports.md).

// Appends one new[]-allocated wide name "COM<n>" per port present, in
// ascending port number. Free the names with FreeSerialPortNameA.
bool EnumSerialPortNameW(CPtrArrayCtrl* list);
void FreeSerialPortNameA(CPtrArrayCtrl* list);

struct SerialPortInfo {
    int number;              // the n of "COM<n>"
    std::string devicePath;  // e.g. "/dev/ttyUSB0" or an emulator's /dev/pts/N
};
// The ports present now, in ascending number.
std::vector<SerialPortInfo> ListSerialPorts();
// The device path behind port `number`, or "" when no such port is present.
std::string SerialPortDevicePath(int number);

// Virtual ports (the module emulator): publishing makes `devicePath` appear
// as port `number` (0: the first free number) until withdrawn or until the
// publishing process ends. Returns the number used, or -1 when `number` is
// taken or the registry cannot be written.
int PublishVirtualSerialPort(int number, const std::string& devicePath);
void WithdrawVirtualSerialPort(int number);
