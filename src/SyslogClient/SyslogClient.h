// Recent console messages of the application, read back from the system log so that a
// feedback report can carry them.
#pragma once

#include "platform/system/SystemLog.h"

#include <string>
#include <vector>

class SyslogClient {
public:
    using Query = platform::LogQuery;

    // The newest 101 messages whose sender is the application, oldest first, each
    // "[%f] %s" (time in seconds since 1970, message).
    static std::vector<std::string> logs();
    // The same for any query.
    static std::vector<std::string> getLogs(const Query& query);
    // The text form of every message whose sender is the application.
    static std::string allEntriesForApp();
    // The text form of every message of the current process.
    static std::string allEntriesForProcess();
    // "All timestamps are GMT.\n\n" and one "[<date>] <message>\n" line per matching message,
    // in log order; the date is "MMM dd, hh:mm:ss a" in GMT (English month and AM/PM).
    static std::string runQuery(const Query& query);

    // The query "Sender" equal to the application's bundle name.
    static Query senderQuery();
};
