// The system log, read back: messages with a time (seconds since 1970) and a text, matched
// by one key compared for equality: "Sender" (the sender name) or "PID" (decimal process id).
//
// Two real sources: the systemd journal ("Sender" is SYSLOG_IDENTIFIER, "PID" is _PID, the
// time is the entry's realtime stamp) and the application's own log file (LogFile.h). The
// journal is used when journald runs on this machine and the journal can be opened; the
// log file otherwise. Tests may install another source (a journal built from files, a log
// file elsewhere); the default is never a substitute.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct LogQuery {
    std::string key;    // "Sender" or "PID"; any other key matches nothing
    std::string value;
};

struct LogMessage {
    double time = 0;
    std::string message;
};

class SystemLogSource {
public:
    virtual ~SystemLogSource() = default;
    // Every matching message in log order; the visitor returns false to stop.
    virtual void search(const LogQuery& query, const std::function<bool(const LogMessage&)>& visit) = 0;
    // The newest `limit` matching messages, in log order, reading from the end of the log.
    virtual std::vector<LogMessage> tail(const LogQuery& query, std::size_t limit) = 0;
    virtual std::string name() const = 0;  // "journal" or "file"
};

// The journal of this machine (paths empty), or of the given journal files.
std::shared_ptr<SystemLogSource> makeJournalLogSource(std::vector<std::string> files = {});
// The application's log file at `path` (and its older generation).
std::shared_ptr<SystemLogSource> makeFileLogSource(std::string path);

// The source in use: a test's substitute if one is installed, else the journal when
// journald runs and the journal opens, else the default log file of the current sandbox.
std::shared_ptr<SystemLogSource> systemLogSource();
void setSystemLogSource(std::shared_ptr<SystemLogSource> source);  // nullptr: the real one

}  // namespace platform
