// The application's own log: every line of the platform logger is also appended here, so
// that the application's recent console messages can be read back (the feedback report
// carries them) on machines where no journal is running.
//
// The file is "Library/Logs/console.log" in the sandbox, created 0600. It is bounded: once a
// write takes it past the size limit it is renamed to "console.log.1" (replacing the older
// generation) and a new file is started, so at most two generations exist.
//
// One entry per line: "<seconds since 1970, %.6f>\t<pid>\t<sender>\t<message>\n", where the
// sender and the message have backslash, newline, carriage return and tab escaped
// ("\\", "\n", "\r", "\t"), so that a multi-line message stays one entry.
//
// When journald runs, each line also goes to the journal (its native datagram protocol) with
// SYSLOG_IDENTIFIER set to the sender and PRIORITY 5, unless standard error is itself
// connected to the journal (a service), in which case the journal already has the line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

struct LogEntry {
    double time = 0;
    long pid = 0;
    std::string sender;
    std::string message;
};

class LogFile {
public:
    // The current file and its older generation, for the current sandbox.
    static std::string defaultPath();
    static std::string rotatedPath(const std::string& path);

    // The sender name this process logs under: the main bundle's CFBundleName, else the
    // executable's name.
    static std::string senderName();

    // Appends one entry to the file at `path` (creating its directory), rotating when the
    // file grows past `maxBytes`. Never blocks on another thread: a rotation already under
    // way elsewhere is left to that thread. The last file appended to stays open for the next
    // entry while it is still the file at its path. False when the entry could not be written.
    static bool append(const std::string& path, const LogEntry& entry, std::size_t maxBytes);

    // Sends the journal copy of each line to the datagram socket at `path` instead of
    // journald's ("" restores it).
    static void setJournalSocketForTesting(const std::string& path);

    // Size limit of the default file (tests and benchmarks may raise or lower it).
    static std::size_t maxBytes();
    static void setMaxBytes(std::size_t bytes);

    // Entries of `path`'s older generation and then of `path`, oldest first; the visitor
    // returns false to stop.
    static void forEach(const std::string& path, const std::function<bool(const LogEntry&)>& visit);
    // The same entries newest first, reading the files backwards from their ends in blocks,
    // so that only as much is read as the visitor asks for.
    static void forEachReverse(const std::string& path, const std::function<bool(const LogEntry&)>& visit);

    // One line of the file, without its newline; false when the line is malformed.
    static std::string encode(const LogEntry& entry);
    static bool decode(std::string_view line, LogEntry& entry);
};

// What the platform logger calls for every line it prints: appends the message to the
// default log file under this process's sender name and, where journald runs, to the journal.
// Messages are cut to their first 1024 bytes there (the console line stays whole).
void appendToApplicationLog(std::string_view message);

}  // namespace platform
