#include "reliclass/QuillonDataFileManager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonGuard.h"

#include <quillon/detail/RecordKeys.h>

namespace keys = quillon::record;

using platform::Value;

namespace {

// Exclusive advisory lock on the store directory, held for one read-modify-write.
// flock() locks belong to the open file description, so separate threads (each opening the
// directory) and separate processes exclude each other. The wait is bounded: after it the
// operation goes ahead unlocked rather than stall (it may run on the crash path, while the
// thread holding the lock is the one that crashed).
class StoreLock {
public:
    explicit StoreLock(const std::string& filePath) {
        fd_ = ::open(platform::fs::deletingLastPathComponent(filePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

Value freshRoot() {
    Value root = platform::dict();
    root["cacheCount"] = 0;
    return root;
}

// A root as the cache keeps it, with the number of readers holding it: a change may work on
// the remembered root itself only when none does.
struct HeldRoot {
    Value root;
    std::atomic<int> readers{0};
};

// A reader's hold on a remembered root, released when the reader's pointer goes.
struct Lease {
    explicit Lease(std::shared_ptr<HeldRoot> h) : held(std::move(h)) { held->readers.fetch_add(1, std::memory_order_relaxed); }
    ~Lease() { held->readers.fetch_sub(1, std::memory_order_release); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    std::shared_ptr<HeldRoot> held;
};

// Counted as a reader from here on: made before the root can be found by a change.
std::shared_ptr<const Value> leaseOf(std::shared_ptr<HeldRoot> held) {
    auto lease = std::make_shared<Lease>(std::move(held));
    return std::shared_ptr<const Value>(lease, &lease->held->root);
}

// The roots this process last read or wrote, with the identity of the file they came from,
// so that an unchanged file is not read and parsed again. Every write replaces the file by a
// new one (rename), so a change by any writer, in this process or another, gives a new
// identity. Readers share the remembered root for as long as they need it; a change takes it
// out of the cache (a copy while readers hold it) and puts the root it wrote back. A handful
// of lists, of bounded size.
class RootCache {
public:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        std::int64_t modifiedNs = 0;
        off_t size = 0;
        bool operator==(const Identity&) const = default;
    };

    static Identity of(const struct stat& st) {
        return Identity{st.st_dev, st.st_ino,
                        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, st.st_size};
    }
    static std::optional<Identity> identityOf(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return of(st);
    }

    // The root remembered for `path` if the file is still the one it came from.
    std::shared_ptr<const Value> find(const std::string& path, const Identity& identity) {
        std::unique_lock lock(mutex_, std::try_to_lock);  // never waits (the crash path)
        if (!lock.owns_lock()) return nullptr;
        for (const auto& e : entries_)
            if (e.path == path && e.identity == identity) return leaseOf(e.held);
        return nullptr;
    }

    // Like find(), but the root leaves the cache for the caller to change: the remembered one
    // when no reader holds it (none can take a hold once it is out), else a copy.
    std::shared_ptr<HeldRoot> take(const std::string& path, const Identity& identity) {
        std::shared_ptr<HeldRoot> taken;
        {
            std::unique_lock lock(mutex_, std::try_to_lock);
            if (!lock.owns_lock()) return nullptr;
            auto it = std::find_if(entries_.begin(), entries_.end(),
                                   [&](const Entry& e) { return e.path == path && e.identity == identity; });
            if (it == entries_.end()) return nullptr;
            taken = std::move(it->held);
            entries_.erase(it);
        }
        // Acquire: what the last reader did with the root comes before the change.
        if (taken->readers.load(std::memory_order_acquire) == 0) return taken;
        auto copy = std::make_shared<HeldRoot>();
        copy->root = taken->root;
        return copy;
    }

    void remember(const std::string& path, const Identity& identity, std::shared_ptr<HeldRoot> held) {
        if (identity.size > kMaxFileBytes) return forget(path);
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) return;  // a stale entry never matches a replaced file
        for (auto& e : entries_) {
            if (e.path == path) {
                e.identity = identity;
                e.held = std::move(held);
                return;
            }
        }
        if (entries_.size() >= kMaxEntries) entries_.erase(entries_.begin());
        entries_.push_back({path, identity, std::move(held)});
    }

    void forget(const std::string& path) {
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) return;
        std::erase_if(entries_, [&](const Entry& e) { return e.path == path; });
    }

private:
    static constexpr std::size_t kMaxEntries = 4;        // the four lists
    static constexpr off_t kMaxFileBytes = 1024 * 1024;  // a full crash list is about 200 KB, a pool 400 KB
    struct Entry {
        std::string path;
        Identity identity;
        std::shared_ptr<HeldRoot> held;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

RootCache& rootCache() {
    static RootCache* cache = new RootCache;  // never destroyed: exiting threads may use it
    return *cache;
}

std::shared_ptr<HeldRoot> holding(Value root) {
    auto held = std::make_shared<HeldRoot>();
    held->root = std::move(root);
    return held;
}

// Writes the root and remembers it; `held` is the caller's alone (taken, parsed or new).
bool writeRoot(const std::string& path, std::shared_ptr<HeldRoot> held, bool sync = true) {
    const auto previous = RootCache::identityOf(path);
    auto xml = platform::toXMLPropertyList(held->root, previous ? static_cast<std::size_t>(previous->size) : 0);
    if (!xml) return false;
    struct stat written {};
    // A failed write leaves the old file, and so what is remembered of it, as it was.
    if (!platform::fs::writeAtomically(path, *xml, 0600, sync, &written)) return false;
    rootCache().remember(path, RootCache::of(written), std::move(held));
    return true;
}

std::shared_ptr<const Value> readRoot(const std::string& path, bool holdingLock);

// Reads the root dictionary. A file that exists but is not a dictionary property list is
// moved aside and replaced by a fresh root, which is returned; that happens under the
// store's lock, so a save made meanwhile by another user is never moved aside with it.
std::shared_ptr<const Value> readRoot(const std::string& path) { return readRoot(path, false); }

// The file parsed; nullptr when it cannot be read or is not a dictionary.
std::shared_ptr<HeldRoot> parseRoot(const std::string& path) {
    auto text = platform::fs::readFile(path);
    if (!text) return nullptr;
    auto root = platform::parseXMLPropertyList(*text);
    if (!root || !root->is_object()) return nullptr;
    return holding(std::move(*root));
}

// An unreadable root is moved aside and a fresh one written in its place (under the lock);
// the fresh root, not the remembered one.
std::shared_ptr<HeldRoot> replaceUnreadable(const std::string& path) {
    if (!platform::fs::fileExists(path)) return nullptr;
    std::string aside = path + ".unreadable-" + platform::formatWholeSeconds(platform::now());
    platform::fs::renameFile(path, aside);
    platform::log("Quillon store: moved unreadable " + path + " aside to " + aside);
    if (!writeRoot(path, holding(freshRoot()))) return nullptr;
    return holding(freshRoot());
}

std::shared_ptr<const Value> readRoot(const std::string& path, bool holdingLock) {
    const auto identity = RootCache::identityOf(path);
    if (identity)
        if (auto known = rootCache().find(path, *identity)) return known;
    if (auto held = parseRoot(path)) {
        if (!identity) return std::shared_ptr<const Value>(held, &held->root);
        // Remembered under the identity seen before reading (a replacement in between gives
        // the next read a new identity, so it reads again), and leased before a change can
        // find it.
        auto lease = leaseOf(held);
        rootCache().remember(path, *identity, std::move(held));
        return lease;
    }
    if (!platform::fs::fileExists(path)) return nullptr;
    if (!holdingLock) {
        StoreLock lock(path);
        return readRoot(path, true);
    }
    auto fresh = replaceUnreadable(path);
    return fresh ? std::shared_ptr<const Value>(fresh, &fresh->root) : nullptr;
}

// The root for a change, under the store's lock: the remembered one taken out of the cache,
// or the file parsed (not remembered: the write that follows remembers what it wrote).
std::shared_ptr<HeldRoot> rootForChange(const std::string& path) {
    const auto identity = RootCache::identityOf(path);
    if (identity)
        if (auto known = rootCache().take(path, *identity)) return known;
    if (auto held = parseRoot(path)) return held;
    return replaceUnreadable(path);
}

// One locked read-modify-write of the root. `change` edits the root; it answers nullopt to
// have the root written (the result is then whether the write succeeded), or a result to
// return without writing. An unreadable root gives false.
template <class F>
bool changeRoot(const std::string& path, F&& change, bool sync = true) {
    StoreLock lock(path);
    auto held = rootForChange(path);
    if (!held) return false;
    std::optional<bool> result = change(held->root);
    if (result) return *result;  // not written; the next reader parses the file again
    return writeRoot(path, std::move(held), sync);
}

// The queue's "datalist" when it is a non-empty array, else nullptr.
Value* nonEmptyQueue(Value& root) {
    Value* list = platform::find(root, "datalist");
    return (list && list->is_array() && !list->empty()) ? list : nullptr;
}

// The pool's "datalist" dictionary, made an empty one when absent or not a dictionary.
Value& poolIn(Value& root) {
    Value* datalist = platform::find(root, "datalist");
    if (!datalist || !datalist->is_object()) {
        root["datalist"] = platform::dict();
        datalist = platform::find(root, "datalist");
    }
    return *datalist;
}

std::optional<std::string> dataIdOf(const Value& entry) {
    const Value* id = platform::find(entry, "dataId");
    return id ? platform::stringValue(*id) : std::nullopt;
}

std::int64_t limitFor(const std::string& path) {
    auto& config = QuillonConfiguration::shareConfiguration();
    std::int64_t limit = (path == QuillonDataFileManager::crashDataPath()) ? config.mc : config.ic;
    // A limit of 0 or below would either never end the eviction loop or never evict;
    // keep at least the newest entry instead.
    return std::max<std::int64_t>(limit, 1);
}

std::int64_t countOf(const Value& entry) {
    const Value* post = platform::find(entry, keys::kPost);
    const Value* data = post ? platform::find(*post, keys::kEvent) : nullptr;
    const Value* ct = data ? platform::find(*data, keys::kCount) : nullptr;
    return ct ? platform::integerValue(*ct) : 0;
}

}  // namespace

QuillonDataFileManager::QuillonDataFileManager(std::string path) : filePath_(std::move(path)) {
    platform::fs::createDirectories(platform::fs::appendPathComponent(platform::fs::documentsDirectory(), "Quillon"),
                                    0700);
}

QuillonDataFileManager QuillonDataFileManager::fileManagerWith(const std::string& path) {
    return QuillonDataFileManager(path);
}

std::string QuillonDataFileManager::pathForComponent(const std::string& component) {
    return platform::fs::appendPathComponent(platform::fs::documentsDirectory(), component);
}

bool QuillonDataFileManager::isExistDataFile() const {
    return platform::fs::fileExists(filePath_);
}

bool QuillonDataFileManager::createDataFile() const {
    return quillon::guarded(
        [&] {
            Value root = freshRoot();
            auto xml = platform::toXMLPropertyList(root);
            if (!xml) {
                QuillonConfiguration::logWithLevel(1, "Error reading plist: %s", "cannot serialise the store's root");
                return false;
            }
            // An empty root needs no flush to disk: lost in a power cut, it is made again.
            // (Launches create the lists from background threads; an fsync there would hold
            // up the exit of a process that ends early.)
            return platform::fs::writeAtomically(filePath_, *xml, 0600, false);
        },
        false);
}

bool QuillonDataFileManager::isCheckDataFile() const {
    if (isExistDataFile()) return true;
    // Created under the lock, after looking again: another first user may have created the
    // file and saved into it since.
    StoreLock lock(filePath_);
    return isExistDataFile() || createDataFile();
}

bool QuillonDataFileManager::saveConfiguration(const Value& configuration) const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            return changeRoot(filePath_, [&](Value& root) -> std::optional<bool> {
                root.erase("config");
                root["config"] = configuration;
                return std::nullopt;
            });
        },
        false);
}

Value QuillonDataFileManager::getConfiguration() const {
    return quillon::guarded(
        [&]() -> Value {
            if (!isCheckDataFile()) return Value();
            auto root = readRoot(filePath_);
            if (!root) return Value();
            const Value* config = platform::find(*root, "config");
            return config ? *config : Value();
        },
        Value());
}

bool QuillonDataFileManager::saveReportData(const Value& payload, std::string* dataId) const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            const std::uint64_t limit = static_cast<std::uint64_t>(limitFor(filePath_));
            return changeRoot(filePath_, [&](Value& root) -> std::optional<bool> {
                if (Value* list = nonEmptyQueue(root)) {
                    while (list->size() >= limit) list->erase(list->size() - 1);
                    const Value* cc = platform::find(root, "cacheCount");
                    const auto n = static_cast<std::int32_t>(cc ? platform::integerValue(*cc) : 0);
                    const std::string identifier = std::to_string(static_cast<std::int64_t>(n) + 1000);
                    Value entry = platform::dict();
                    entry[identifier] = payload;
                    entry["uploadfailed"] = 0;
                    entry["dataId"] = identifier;
                    root["cacheCount"] = static_cast<std::int64_t>(n) + 1;
                    list->insert(list->begin(), std::move(entry));
                    if (dataId) *dataId = identifier;
                } else {
                    Value entry = platform::dict();
                    entry["1000"] = payload;
                    entry["uploadfailed"] = 0;
                    entry["dataId"] = "1000";
                    Value fresh = platform::array();
                    fresh.push_back(std::move(entry));
                    root["datalist"] = std::move(fresh);
                    root["cacheCount"] = 1;
                    if (dataId) *dataId = "1000";
                }
                return std::nullopt;
            });
        },
        false);
}

Value QuillonDataFileManager::getReportEntries() const {
    return quillon::guarded(
        [&]() -> Value {
            Value result = platform::array();
            if (!isCheckDataFile()) return result;
            auto root = readRoot(filePath_);
            const Value* list = root ? platform::find(*root, "datalist") : nullptr;
            if (!list || !list->is_array()) return result;
            for (const auto& entry : *list) {
                if (entry.is_object()) result.push_back(entry);
            }
            return result;
        },
        platform::array());
}

Value QuillonDataFileManager::getReportData() const {
    return quillon::guarded(
        [&]() -> Value {
            if (!isCheckDataFile()) return Value();
            auto root = readRoot(filePath_);
            const Value* list = root ? platform::find(*root, "datalist") : nullptr;
            if (!list) return Value();
            Value result = platform::array();
            if (!list->is_array()) return result;
            for (const auto& entry : *list) {
                auto id = dataIdOf(entry);
                if (!id) continue;
                if (const Value* payload = platform::find(entry, *id)) result.push_back(*payload);
            }
            return result;
        },
        Value());
}

std::int64_t QuillonDataFileManager::getCacheRecordCount() const {
    return quillon::guarded(
        [&]() -> std::int64_t {
            if (!isCheckDataFile()) return 0;
            auto root = readRoot(filePath_);
            const Value* list = root ? platform::find(*root, "datalist") : nullptr;
            return (list && list->is_array()) ? static_cast<std::int64_t>(list->size()) : 0;
        },
        std::int64_t{0});
}

bool QuillonDataFileManager::updateFailedCount() const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            return changeRoot(filePath_, [&](Value& root) -> std::optional<bool> {
                Value* list = nonEmptyQueue(root);
                if (!list) return false;
                Value& oldest = list->back();
                if (const Value* failed = platform::find(oldest, "uploadfailed")) {
                    const auto f = static_cast<std::int32_t>(platform::integerValue(*failed));
                    const std::int64_t rc = QuillonConfiguration::shareConfiguration().rc;
                    if (static_cast<std::int64_t>(f) + 1 < rc) {
                        oldest["uploadfailed"] = static_cast<std::int64_t>(f) + 1;
                    } else {
                        list->erase(list->size() - 1);
                    }
                } else {
                    oldest["uploadfailed"] = 1;
                }
                return std::nullopt;
            });
        },
        false);
}

void QuillonDataFileManager::delReportSuccessData() const {
    quillon::guarded([&] {
        if (!isCheckDataFile()) return;
        changeRoot(filePath_, [](Value& root) -> std::optional<bool> {
            Value* list = nonEmptyQueue(root);
            if (!list) return true;
            *list = platform::array();
            return std::nullopt;
        });
    });
}

bool QuillonDataFileManager::delReportSuccessData(const std::vector<std::string>& dataIds) const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            return changeRoot(filePath_, [&](Value& root) -> std::optional<bool> {
                Value* list = nonEmptyQueue(root);
                if (!list) return true;
                Value kept = platform::array();
                for (auto& entry : *list) {
                    auto id = dataIdOf(entry);
                    if (id && std::find(dataIds.begin(), dataIds.end(), *id) != dataIds.end()) continue;
                    kept.push_back(std::move(entry));
                }
                if (kept.size() == list->size()) return true;
                *list = std::move(kept);
                return std::nullopt;
            });
        },
        false);
}

void QuillonDataFileManager::deleteLastData() const {
    quillon::guarded([&] {
        if (!isCheckDataFile()) return;
        changeRoot(filePath_, [](Value& root) -> std::optional<bool> {
            Value* list = nonEmptyQueue(root);
            if (!list) return true;
            list->erase(list->size() - 1);
            return std::nullopt;
        });
    });
}

namespace {

// The pool's occurrence total: the sum of "ct" over the dictionary entries of "datalist".
std::uint64_t occurrenceTotal(const Value& root) {
    const Value* datalist = platform::find(root, "datalist");
    if (!datalist || !datalist->is_object()) return 0;
    std::int64_t total = 0;
    for (const auto& item : datalist->items()) {
        if (item.value().is_object()) total += countOf(item.value());
    }
    return static_cast<std::uint64_t>(total);
}

// The eviction step: note the identifier in "eplist" and, when `total` has reached the
// limit, drop the oldest identifier with its entry (at most one per call).
void evictForIdentifier(Value& root, const std::string& identifier, std::int64_t ep, std::uint64_t total) {
    Value& datalist = poolIn(root);
    Value* existing = platform::find(datalist, "eplist");
    if (!existing || !existing->is_array()) {
        datalist["eplist"] = platform::array();
        existing = platform::find(datalist, "eplist");
    }
    Value& eplist = *existing;
    if (std::find(eplist.begin(), eplist.end(), Value(identifier)) == eplist.end()) eplist.push_back(identifier);
    if (total >= static_cast<std::uint64_t>(ep) && !eplist.empty()) {
        auto first = platform::stringValue(eplist.front());
        eplist.erase(0);
        if (first) datalist.erase(*first);
    }
}

}  // namespace

void QuillonDataFileManager::updataDataListWithIdentifier(const std::string& identifier, std::int64_t ep) const {
    quillon::guarded([&] {
        if (!isCheckDataFile()) return;
        const bool isPool = filePath_ == exceptionDataPath();
        // The total counts the pool file as it stands before this change.
        const std::uint64_t external = isPool ? 0 : fileManagerWith(exceptionDataPath()).getExceptionDataCount();
        changeRoot(filePath_, [&](Value& root) -> std::optional<bool> {
            evictForIdentifier(root, identifier, ep, isPool ? occurrenceTotal(root) : external);
            return std::nullopt;
        });
    });
}

bool QuillonDataFileManager::saveException(const Value& exception, const std::string& identifier, std::int64_t ep,
                                           std::uint64_t* total) const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            const bool isPool = filePath_ == exceptionDataPath();
            const std::uint64_t external = isPool ? 0 : fileManagerWith(exceptionDataPath()).getExceptionDataCount();
            // Eviction and the save in one read-modify-write of the file.
            return changeRoot(filePath_, [&](Value& root) -> std::optional<bool> {
                evictForIdentifier(root, identifier, ep, isPool ? occurrenceTotal(root) : external);
                Value& datalist = poolIn(root);
                Value* stored = platform::find(datalist, identifier);
                if (stored && stored->is_object()) {
                    const std::int64_t c = countOf(*stored);
                    Value* post = platform::find(*stored, keys::kPost);
                    Value* data = post ? platform::find(*post, keys::kEvent) : nullptr;
                    if (data && data->is_object()) (*data)["ct"] = std::to_string(c + 1);
                } else {
                    datalist[identifier] = exception;
                }
                if (total) *total = occurrenceTotal(root);
                return std::nullopt;
            }, !isPool);
        },
        false);
}

bool QuillonDataFileManager::isHaveException(const std::string& identifier) const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            auto root = readRoot(filePath_);
            const Value* datalist = root ? platform::find(*root, "datalist") : nullptr;
            return datalist != nullptr && platform::find(*datalist, identifier) != nullptr;
        },
        false);
}

std::uint64_t QuillonDataFileManager::getExceptionDataCount() const {
    return quillon::guarded(
        [&]() -> std::uint64_t {
            if (!isCheckDataFile()) return 0;
            auto root = readRoot(filePath_);
            return root ? occurrenceTotal(*root) : 0;
        },
        std::uint64_t{0});
}

Value QuillonDataFileManager::getExceptionDatas() const {
    return quillon::guarded(
        [&]() -> Value {
            if (!isCheckDataFile()) return Value();
            auto root = readRoot(filePath_);
            const Value* datalist = root ? platform::find(*root, "datalist") : nullptr;
            if (!datalist) return Value();
            Value result = platform::array();
            if (datalist->is_object()) {
                for (const auto& item : datalist->items()) result.push_back(item.value());
            }
            return result;
        },
        Value());
}

bool QuillonDataFileManager::deleteExceptionDatas() const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            return changeRoot(filePath_, [](Value& root) -> std::optional<bool> {
                if (!platform::find(root, "datalist")) return false;
                root["datalist"] = platform::dict();
                return std::nullopt;
            });
        },
        false);
}

bool QuillonDataFileManager::deleteExceptionDatas(const std::vector<std::string>& identifiers) const {
    return quillon::guarded(
        [&] {
            if (!isCheckDataFile()) return false;
            return changeRoot(filePath_, [&](Value& root) -> std::optional<bool> {
                Value* datalist = platform::find(root, "datalist");
                if (!datalist || !datalist->is_object()) return false;
                for (const auto& id : identifiers) datalist->erase(id);
                if (Value* eplist = platform::find(*datalist, "eplist"); eplist && eplist->is_array()) {
                    Value kept = platform::array();
                    for (auto& v : *eplist) {
                        auto s = platform::stringValue(v);
                        if (s && std::find(identifiers.begin(), identifiers.end(), *s) != identifiers.end()) continue;
                        kept.push_back(v);
                    }
                    *eplist = std::move(kept);
                }
                return std::nullopt;
            });
        },
        false);
}
