#include "SyslogClient/SyslogClient.h"

#include "platform/foundation/LogFile.h"
#include "platform/foundation/Logger.h"

#include <unistd.h>

#include <cmath>
#include <ctime>

namespace {

// The most lines a report carries.
constexpr std::size_t kMaxLines = 101;

std::string gmtDate(double seconds) {
    time_t t = static_cast<time_t>(std::floor(seconds));
    struct tm tmv;
    gmtime_r(&t, &tmv);
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int hour12 = tmv.tm_hour % 12 == 0 ? 12 : tmv.tm_hour % 12;
    return platform::format("%s %02d, %02d:%02d:%02d %s", months[tmv.tm_mon], tmv.tm_mday, hour12, tmv.tm_min,
                            tmv.tm_sec, tmv.tm_hour < 12 ? "AM" : "PM");
}

}  // namespace

SyslogClient::Query SyslogClient::senderQuery() { return Query{"Sender", platform::LogFile::senderName()}; }

std::vector<std::string> SyslogClient::logs() { return getLogs(senderQuery()); }

std::vector<std::string> SyslogClient::getLogs(const Query& query) {
    std::vector<std::string> lines;
    for (const auto& m : platform::systemLogSource()->tail(query, kMaxLines)) {
        lines.push_back(platform::format("[%f] %s", m.time, m.message.c_str()));
    }
    return lines;
}

std::string SyslogClient::runQuery(const Query& query) {
    std::string text = "All timestamps are GMT.\n\n";
    platform::systemLogSource()->search(query, [&](const platform::LogMessage& m) {
        text += "[" + gmtDate(m.time) + "] " + m.message.c_str() + "\n";
        return true;
    });
    return text;
}

std::string SyslogClient::allEntriesForApp() { return runQuery(senderQuery()); }

std::string SyslogClient::allEntriesForProcess() {
    return runQuery(Query{"PID", platform::format("%d", static_cast<int>(getpid()))});
}
