#include "platform/system/SystemLog.h"

#include "platform/foundation/LogFile.h"
#include "platform/system/Systemd.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

class JournalLogSource : public SystemLogSource {
public:
    explicit JournalLogSource(std::vector<std::string> files) : files_(std::move(files)) {}

    std::string name() const override { return "journal"; }

    // Opens the journal with the query's match; nullptr when it cannot be opened or the key
    // is unknown.
    sd_journal* open(const LogQuery& query) const {
        std::string match;
        if (query.key == "Sender") {
            match = "SYSLOG_IDENTIFIER=" + query.value;
        } else if (query.key == "PID") {
            match = "_PID=" + query.value;
        } else {
            return nullptr;
        }
        const systemd::Api* sd = systemd::load();
        if (!sd) return nullptr;
        sd_journal* j = nullptr;
        int r;
        if (files_.empty()) {
            r = sd->sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY);
        } else {
            std::vector<const char*> paths;
            for (const auto& f : files_) paths.push_back(f.c_str());
            paths.push_back(nullptr);
            r = sd->sd_journal_open_files(&j, paths.data(), 0);
        }
        if (r < 0) return nullptr;
        if (sd->sd_journal_add_match(j, match.data(), match.size()) < 0) {
            sd->sd_journal_close(j);
            return nullptr;
        }
        return j;
    }

    static bool read(const systemd::Api* sd, sd_journal* j, LogMessage& m) {
        const void* data = nullptr;
        size_t len = 0;
        if (sd->sd_journal_get_data(j, "MESSAGE", &data, &len) < 0) return false;
        constexpr size_t prefix = sizeof("MESSAGE=") - 1;
        if (len < prefix) return false;
        m.message.assign(static_cast<const char*>(data) + prefix, len - prefix);
        uint64_t usec = 0;
        m.time = sd->sd_journal_get_realtime_usec(j, &usec) >= 0 ? static_cast<double>(usec) / 1e6 : 0;
        return true;
    }

    void search(const LogQuery& query, const std::function<bool(const LogMessage&)>& visit) override {
        sd_journal* j = open(query);
        if (!j) return;
        const systemd::Api* sd = systemd::load();
        sd->sd_journal_seek_head(j);
        while (sd->sd_journal_next(j) > 0) {
            LogMessage m;
            if (read(sd, j, m) && !visit(m)) break;
        }
        sd->sd_journal_close(j);
    }

    std::vector<LogMessage> tail(const LogQuery& query, std::size_t limit) override {
        std::vector<LogMessage> out;
        sd_journal* j = open(query);
        if (!j) return out;
        const systemd::Api* sd = systemd::load();
        sd->sd_journal_seek_tail(j);
        while (out.size() < limit && sd->sd_journal_previous(j) > 0) {
            LogMessage m;
            if (read(sd, j, m)) out.push_back(std::move(m));
        }
        sd->sd_journal_close(j);
        std::reverse(out.begin(), out.end());
        return out;
    }

private:
    std::vector<std::string> files_;
};

bool matches(const LogQuery& query, const LogEntry& e) {
    if (query.key == "Sender") return e.sender == query.value;
    if (query.key == "PID") return std::to_string(e.pid) == query.value;
    return false;
}

class FileLogSource : public SystemLogSource {
public:
    explicit FileLogSource(std::string path) : path_(std::move(path)) {}

    std::string name() const override { return "file"; }

    void search(const LogQuery& query, const std::function<bool(const LogMessage&)>& visit) override {
        LogFile::forEach(path_, [&](const LogEntry& e) {
            return !matches(query, e) || visit(LogMessage{e.time, e.message});
        });
    }

    std::vector<LogMessage> tail(const LogQuery& query, std::size_t limit) override {
        std::vector<LogMessage> out;
        if (limit == 0) return out;
        LogFile::forEachReverse(path_, [&](const LogEntry& e) {
            if (matches(query, e)) out.push_back(LogMessage{e.time, e.message});
            return out.size() < limit;
        });
        std::reverse(out.begin(), out.end());
        return out;
    }

private:
    std::string path_;
};

// The default log file follows the current sandbox, which tests move by changing HOME.
class DefaultFileLogSource : public SystemLogSource {
public:
    std::string name() const override { return "file"; }
    void search(const LogQuery& query, const std::function<bool(const LogMessage&)>& visit) override {
        FileLogSource(LogFile::defaultPath()).search(query, visit);
    }
    std::vector<LogMessage> tail(const LogQuery& query, std::size_t limit) override {
        return FileLogSource(LogFile::defaultPath()).tail(query, limit);
    }
};

std::mutex gSourceMutex;
std::shared_ptr<SystemLogSource> gSubstitute;

std::shared_ptr<SystemLogSource> realSource() {
    static const std::shared_ptr<SystemLogSource> real = []() -> std::shared_ptr<SystemLogSource> {
        const systemd::Api* sd = nullptr;
        if (::access("/run/systemd/journal/socket", F_OK) == 0 && (sd = systemd::load())) {
            sd_journal* j = nullptr;
            if (sd->sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY) >= 0) {
                sd->sd_journal_close(j);
                return std::make_shared<JournalLogSource>(std::vector<std::string>{});
            }
        }
        return std::make_shared<DefaultFileLogSource>();
    }();
    return real;
}

}  // namespace

std::shared_ptr<SystemLogSource> makeJournalLogSource(std::vector<std::string> files) {
    return std::make_shared<JournalLogSource>(std::move(files));
}

std::shared_ptr<SystemLogSource> makeFileLogSource(std::string path) {
    return std::make_shared<FileLogSource>(std::move(path));
}

std::shared_ptr<SystemLogSource> systemLogSource() {
    {
        std::lock_guard lock(gSourceMutex);
        if (gSubstitute) return gSubstitute;
    }
    return realSource();
}

void setSystemLogSource(std::shared_ptr<SystemLogSource> source) {
    std::lock_guard lock(gSourceMutex);
    gSubstitute = std::move(source);
}

}  // namespace platform
