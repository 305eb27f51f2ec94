#include "platform/foundation/LogFile.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {

namespace {

std::atomic<std::size_t> gMaxBytes{1024 * 1024};
std::mutex gRotateMutex;

constexpr std::size_t kReadBlock = 64 * 1024;
// Longer messages are cut, as the system logger does: a logged report that itself carries
// earlier log lines must not grow from one report to the next.
constexpr std::size_t kMaxMessageBytes = 1024;

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
}

std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            char n = text[++i];
            switch (n) {
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                default: out += n;
            }
        } else {
            out += c;
        }
    }
    return out;
}

// Lines of one file, newest first, read backwards in blocks. The visitor gets each line
// without its newline and returns false to stop; answers false when it stopped.
bool reverseLines(const std::string& path, const std::function<bool(std::string_view)>& visit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return true;
    }
    off_t off = st.st_size;
    std::string carry;  // the start of a line whose beginning lies in an earlier block
    std::vector<char> block(kReadBlock);
    bool go = true;
    while (go && off > 0) {
        size_t n = static_cast<size_t>(std::min<off_t>(off, static_cast<off_t>(kReadBlock)));
        off -= static_cast<off_t>(n);
        ssize_t got = ::pread(fd, block.data(), n, off);
        if (got != static_cast<ssize_t>(n)) break;
        std::string data(block.data(), n);
        data += carry;
        size_t end = data.size();
        while (go) {
            if (end == 0) break;
            size_t nl = data.rfind('\n', end - 1);
            if (nl == std::string::npos) break;
            if (nl + 1 < end) go = visit(std::string_view(data).substr(nl + 1, end - nl - 1));
            end = nl;
        }
        carry.assign(data, 0, end);
    }
    if (go && !carry.empty()) go = visit(carry);
    ::close(fd);
    return go;
}

bool forwardLines(const std::string& path, const std::function<bool(std::string_view)>& visit) {
    auto text = fs::readFile(path);
    if (!text) return true;
    std::string_view all(*text);
    size_t start = 0;
    while (start < all.size()) {
        size_t nl = all.find('\n', start);
        size_t end = nl == std::string_view::npos ? all.size() : nl;
        if (end > start && !visit(all.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

// Where the journal copy goes, and whether it goes. Never destroyed: threads may log while
// the process exits.
struct JournalTarget {
    std::mutex m;
    std::string socket = kJournalSocket;  // a test points it elsewhere
    int decision = -1;                    // -1 not yet decided, else 0 or 1
};

JournalTarget& journalTarget() {
    static JournalTarget* target = new JournalTarget;
    return *target;
}

// True when journald's socket exists and standard error is not already a journal stream.
bool shouldSendToJournal(std::string& socketPath) {
    JournalTarget& target = journalTarget();
    std::lock_guard lock(target.m);
    socketPath = target.socket;
    if (target.decision < 0) {
        target.decision = [&] {
            if (::access(target.socket.c_str(), F_OK) != 0) return 0;
            if (target.socket != kJournalSocket) return 1;
            const char* stream = std::getenv("JOURNAL_STREAM");
            if (stream == nullptr) return 1;
            unsigned long long dev = 0, ino = 0;
            if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return 1;
            struct stat st;
            if (fstat(STDERR_FILENO, &st) != 0) return 1;
            return static_cast<unsigned long long>(st.st_dev) == dev && static_cast<unsigned long long>(st.st_ino) == ino
                       ? 0
                       : 1;
        }();
    }
    return target.decision == 1;
}

// One field in journald's native datagram format: "NAME=value\n", or, for a value holding a
// newline, "NAME\n", the value's length as 64-bit little-endian, the value and "\n".
void appendJournalField(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    if (value.find('\n') == std::string_view::npos) {
        out += '=';
    } else {
        out += '\n';
        const std::uint64_t n = value.size();
        for (int i = 0; i < 8; ++i) out += static_cast<char>((n >> (8 * i)) & 0xff);
    }
    out += value;
    out += '\n';
}

// Sends the entry to journald as one datagram, written directly rather than through
// libsystemd so that logging never loads a library. Entries are at most kMaxMessageBytes,
// far below the datagram limit. A journal that is gone drops the entry (the log file has it).
void sendToJournal(const std::string& socketPath, const LogEntry& entry) {
    static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    if (fd < 0 || socketPath.size() >= sizeof addr.sun_path) return;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    std::string datagram;
    appendJournalField(datagram, "MESSAGE", entry.message);
    appendJournalField(datagram, "SYSLOG_IDENTIFIER", entry.sender);
    appendJournalField(datagram, "PRIORITY", "5");
    (void)::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

}  // namespace

std::string LogFile::defaultPath() {
    return fs::appendPathComponent(fs::sandboxDirectory(), "Library/Logs/console.log");
}

std::string LogFile::rotatedPath(const std::string& path) { return path + ".1"; }

std::string LogFile::senderName() {
    if (auto name = Bundle::main().infoString("CFBundleName"); name && !name->empty()) return *name;
    return program_invocation_short_name;
}

void LogFile::setJournalSocketForTesting(const std::string& path) {
    JournalTarget& target = journalTarget();
    std::lock_guard lock(target.m);
    target.socket = path.empty() ? kJournalSocket : path;
    target.decision = -1;
}

std::size_t LogFile::maxBytes() { return gMaxBytes.load(std::memory_order_relaxed); }
void LogFile::setMaxBytes(std::size_t bytes) { gMaxBytes.store(bytes, std::memory_order_relaxed); }

std::string LogFile::encode(const LogEntry& entry) {
    char head[64];
    std::snprintf(head, sizeof head, "%.6f\t%ld\t", entry.time, entry.pid);
    std::string line(head);
    appendEscaped(line, entry.sender);
    line += '\t';
    appendEscaped(line, entry.message);
    return line;
}

bool LogFile::decode(std::string_view line, LogEntry& entry) {
    size_t t1 = line.find('\t');
    if (t1 == std::string_view::npos) return false;
    size_t t2 = line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos) return false;
    size_t t3 = line.find('\t', t2 + 1);
    if (t3 == std::string_view::npos) return false;
    std::string time(line.substr(0, t1));
    std::string pid(line.substr(t1 + 1, t2 - t1 - 1));
    char* endp = nullptr;
    entry.time = std::strtod(time.c_str(), &endp);
    if (endp == time.c_str()) return false;
    entry.pid = std::strtol(pid.c_str(), &endp, 10);
    if (endp == pid.c_str()) return false;
    entry.sender = unescape(line.substr(t2 + 1, t3 - t2 - 1));
    entry.message = unescape(line.substr(t3 + 1));
    return true;
}

namespace {

// The last log file appended to, kept open: an open and a close per line were most of what
// a line cost. It is used only while it is still the file at its path (a rotation, here or
// by another process, replaces that file), and only by a thread that gets it without waiting.
struct OpenLogFile {
    std::mutex m;
    std::string path;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
};

OpenLogFile& openLogFile() {
    static OpenLogFile* file = new OpenLogFile;  // never destroyed: exiting threads may log
    return *file;
}

int openForAppend(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        fs::createDirectories(fs::deletingLastPathComponent(path), 0700);
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    }
    return fd;
}

// Writes the line to the kept file when it is still `path`'s, else to a fresh descriptor
// (kept for the next line). The size after the write, or -1 when the line was not written.
off_t appendLine(const std::string& path, const std::string& line) {
    OpenLogFile& kept = openLogFile();
    std::unique_lock lock(kept.m, std::try_to_lock);
    if (lock.owns_lock()) {
        struct stat now;
        if (kept.fd >= 0 && (kept.path != path || ::stat(path.c_str(), &now) != 0 || now.st_dev != kept.device ||
                             now.st_ino != kept.inode)) {
            ::close(kept.fd);
            kept.fd = -1;
        }
        if (kept.fd < 0) {
            int fd = openForAppend(path);
            struct stat st;
            if (fd < 0) return -1;
            if (fstat(fd, &st) != 0) {
                ::close(fd);
                return -1;
            }
            kept.fd = fd;
            kept.path = path;
            kept.device = st.st_dev;
            kept.inode = st.st_ino;
        }
        // One write per entry: appends of different threads do not interleave.
        struct stat st;
        if (!fs::writeAll(kept.fd, line)) return -1;
        return fstat(kept.fd, &st) == 0 ? st.st_size : 0;
    }
    int fd = openForAppend(path);
    if (fd < 0) return -1;
    struct stat st;
    off_t size = fs::writeAll(fd, line) ? (fstat(fd, &st) == 0 ? st.st_size : 0) : -1;
    ::close(fd);
    return size;
}

}  // namespace

bool LogFile::append(const std::string& path, const LogEntry& entry, std::size_t maxBytes) {
    std::string line = encode(entry);
    line += '\n';
    const off_t size = appendLine(path, line);
    if (size < 0) return false;
    if (static_cast<std::size_t>(size) > maxBytes) {
        std::unique_lock lock(gRotateMutex, std::try_to_lock);
        // Re-check under the lock: another thread may have rotated already.
        struct stat now;
        if (lock.owns_lock() && ::stat(path.c_str(), &now) == 0 && static_cast<std::size_t>(now.st_size) > maxBytes) {
            ::rename(path.c_str(), rotatedPath(path).c_str());
        }
    }
    return true;
}

void LogFile::forEach(const std::string& path, const std::function<bool(const LogEntry&)>& visit) {
    auto each = [&](std::string_view line) {
        LogEntry e;
        return !decode(line, e) || visit(e);
    };
    if (forwardLines(rotatedPath(path), each)) forwardLines(path, each);
}

void LogFile::forEachReverse(const std::string& path, const std::function<bool(const LogEntry&)>& visit) {
    auto each = [&](std::string_view line) {
        LogEntry e;
        return !decode(line, e) || visit(e);
    };
    if (reverseLines(path, each)) reverseLines(rotatedPath(path), each);
}

void appendToApplicationLog(std::string_view message) {
    // The lookups below may log themselves; such lines are not appended again.
    thread_local bool inside = false;
    if (inside) return;
    inside = true;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    LogEntry entry;
    entry.time = static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
    entry.pid = static_cast<long>(getpid());
    entry.sender = LogFile::senderName();
    entry.message.assign(message.substr(0, kMaxMessageBytes));
    if (message.size() > kMaxMessageBytes) {
        // Cut at a character boundary.
        while (!entry.message.empty() && (static_cast<unsigned char>(entry.message.back()) & 0xC0) == 0x80) {
            entry.message.pop_back();
        }
        if (!entry.message.empty() && (static_cast<unsigned char>(entry.message.back()) & 0x80) != 0) {
            entry.message.pop_back();
        }
    }
    while (!entry.message.empty() && entry.message.back() == '\n') entry.message.pop_back();
    LogFile::append(LogFile::defaultPath(), entry, LogFile::maxBytes());
    std::string journal;
    if (shouldSendToJournal(journal)) sendToJournal(journal, entry);
    inside = false;
}

}  // namespace platform
