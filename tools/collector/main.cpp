// quillon-collector: the reference collection server (crash, configuration, feedback and
// file-store endpoints in one process) used by the demo and the end-to-end tests.
#include "Analysis.h"
#include "Bounded.h"
#include "Policy.h"
#include "Server.h"
#include "SharedSymbols.h"
#include "Store.h"
#include "SymbolStore.h"
#include "Symbolication.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

const char* kUsage =
    "usage: quillon-collector [options]\n"
    "       quillon-collector dump [--db PATH|URL] [--lines N]\n"
    "\n"
    "options:\n"
    "  --host ADDR          address to listen on (default 127.0.0.1)\n"
    "  --port N             port (default 8480; 0 picks a free one). The first stdout line is\n"
    "                       \"listening on ADDR:PORT\".\n"
    "  --db PATH            SQLite database (default ./quillon-collector.db; \":memory:\" keeps\n"
    "                       nothing on disk)\n"
    "  --db URL             PostgreSQL instead: postgresql://USER@HOST/DB or any libpq connection\n"
    "                       string (\"host=... dbname=...\"; --db-url is the same option). Collector\n"
    "                       processes on one database share everything: reports, screenshots,\n"
    "                       symbol files and the live answer policy\n"
    "  --keep-days N        remove records, feedback, files and rejects older than N days (at\n"
    "                       start and hourly, in batches; default: keep everything)\n"
    "  --policy FILE        JSON answer policy, re-read on every request\n"
    "  --answer MODE        ok | en1 | code1 | http500 | slow | garbage | noanswer | emptydata | nocode\n"
    "  --slow-ms N          delay of the slow mode (default 1000)\n"
    "  --hold-ms N          how long noanswer holds a connection (default 60000)\n"
    "  --config-json JSON   configuration answer values, e.g. '{\"up\":1,\"rc\":2,\"to\":3,\"cv\":4}'\n"
    "  --public-url URL     base of the file addresses handed to clients (default: the\n"
    "                       listening address), e.g. http://collector.example.org:8480\n"
    "  --admin-token TOKEN  token the web page and /api/ require when listening beyond loopback\n"
    "  --admin-token-file FILE  the same, read from the file's first line\n"
    "  --control-port N     serve /_collector/ inspection and control on 127.0.0.1:N (0 picks a\n"
    "                       free one; the second stdout line is then \"control on 127.0.0.1:N\")\n"
    "  --trusted-proxy ADDR requests come through the proxy at ADDR (repeatable): the page needs\n"
    "                       the token whatever --host is, X-Forwarded-For names the client\n"
    "  --test-mode          serve /_collector/ inspection and control on the main port to any\n"
    "                       address, and stored files without the token (test rigs)\n"
    "  --verbose            log every request to stderr\n"
    "\n"
    "Web page: http://ADDR:PORT/ (crashes, exceptions, registrations, feedback); JSON under /api/.\n"
    "Inspection: GET /_collector/records | feedback | files | files/ID.jpg | rejects | policy;\n"
    "control: POST /_collector/policy (JSON policy layer), POST /_collector/reset.\n"
    "Inspection and control answer on the control listener only, unless --test-mode is given.\n";

const char* kDefaultDb = "quillon-collector.db";

int fail(const std::string& msg) {
    std::cerr << "quillon-collector: " << msg << "\n";
    return 2;
}

bool parseInt(const std::string& s, int& out) {
    try {
        std::size_t used = 0;
        out = std::stoi(s, &used);
        return used == s.size();
    } catch (...) {
        return false;
    }
}

collector::ResolvedFrame toResolved(const symbols::Location& loc) {
    return {loc.function, loc.file, static_cast<int>(loc.line)};
}

// Symbolication from the symbol files kept in the database; those an earlier collector kept
// in a directory beside its SQLite file are copied in first.
std::shared_ptr<symbols::SymbolStore> installSymbolication(collector::Store& store, const std::string& db) {
    auto files = std::make_shared<symbols::SymbolStore>(collector::storeSymbolSource(store));
    const bool imported = !collector::Database::isPostgresTarget(db) &&
                          collector::importSymbolDirectory(symbols::SymbolStore::dirForDatabase(db), *files) > 0;
    collector::setFrameResolver([files](const std::string& ak, const std::string& av,
                                        const std::string& line) -> std::optional<collector::ResolvedFrame> {
        const auto frame = symbols::parseBacktraceLine(line);
        const auto loc = frame ? files->resolve(ak, av, *frame, false) : std::nullopt;
        return loc ? std::optional(toResolved(*loc)) : std::nullopt;
    });
    collector::setBacktraceResolver([files](const std::string& ak, const std::string& av, const std::string& backtrace,
                                            bool signalRecord) {
        std::vector<std::optional<collector::ResolvedFrame>> out;
        for (const auto& loc : files->resolveBacktrace(ak, av, backtrace, signalRecord))
            out.push_back(loc ? std::optional(toResolved(*loc)) : std::nullopt);
        return out;
    });
    if (imported) store.regroup(&collector::frameResolver());
    return files;
}

// What dump prints of a stored value: at most n bytes, control characters escaped, whatever
// type the client sent.
std::string clip(const collector::Json& v, std::size_t n) { return collector::escapeControl(collector::valueText(v, n)); }
std::string clip(const std::string& s, std::size_t n) { return collector::escapeControl(collector::clipText(s, n)); }

const collector::Json& member(const collector::Json& obj, const char* key) {
    static const collector::Json none;
    if (!obj.is_object()) return none;
    auto it = obj.find(key);
    return it == obj.end() ? none : *it;
}

// The contact, the user data and the newest trace entries of a feedback report's body.
void printFeedbackDetails(const collector::Json& body, int lines) {
    if (!body.is_object()) return;
    if (auto m = body.find("messages"); m != body.end() && m->is_array() && !m->empty()) {
        const auto& contact = member(member((*m)[0], "data"), "contact");
        if (!contact.is_null()) std::printf("        contact: %s\n", clip(contact, 100).c_str());
    }
    if (auto u = body.find("user_data"); u != body.end()) std::printf("        user data: %s\n", clip(*u, 100).c_str());
    if (auto t = body.find("operatetrace"); t != body.end() && t->is_array()) {
        std::printf("        trace: %zu entries\n", t->size());
        const std::size_t first = t->size() > static_cast<std::size_t>(lines) ? t->size() - lines : 0;
        for (std::size_t i = first; i < t->size(); ++i) std::printf("          %s\n", clip((*t)[i], 100).c_str());
    }
}

// The first lines of a backtrace, each bounded, for the frame parser.
std::string firstLines(const std::string& text, int lines) {
    std::string out;
    std::size_t pos = 0;
    for (int n = 0; n < lines && pos < text.size(); ++n) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        out += collector::clipText(text.substr(pos, std::min<std::size_t>(end - pos, 4096)), 1024) + "\n";
        pos = end + 1;
    }
    return out;
}

int dump(int argc, char** argv) {
    std::string db = kDefaultDb;
    int lines = 5;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if ((a == "--db" || a == "--db-url") && i + 1 < argc)
            db = argv[++i];
        else if (a == "--lines" && i + 1 < argc && parseInt(argv[i + 1], lines))
            ++i;
        else
            return fail("dump: unknown argument " + a + "\n" + kUsage);
    }
    struct stat st {};
    if (!collector::Database::isPostgresTarget(db) && stat(db.c_str(), &st) != 0)
        return fail("dump: no database at " + db);
    try {
        collector::Store store(db);
        const auto symbolFiles = installSymbolication(store, db);
        const auto records = store.records();
        std::printf("records: %zu\n", records.size());
        std::printf("%-5s %-22s %-30s %s\n", "id", "action", "exception", "reason");
        for (const auto& r : records) {
            std::string action = clip(r["ac"], 40);
            if (r["item_ac"] != r["ac"]) action += "/" + clip(r["item_ac"], 40);
            std::printf("%-5lld %-22s %-30s %s\n", static_cast<long long>(r["id"].get<std::int64_t>()),
                        action.c_str(), clip(r["name"], 30).c_str(), clip(r["reason"], 100).c_str());
            const auto& av = member(collector::deviceRecord(r["body"]), "av");
            const std::string backtrace = r["backtrace"].is_string() ? r["backtrace"].get<std::string>() : "";
            const auto frames = collector::parseBacktrace(firstLines(backtrace, lines), &collector::frameResolver(),
                                                          r["ak"].is_string() ? r["ak"].get<std::string>() : "",
                                                          av.is_string() ? av.get<std::string>() : "",
                                                          r["name"] == "exception Signal");
            for (int n = 0; n < lines && n < static_cast<int>(frames.size()); ++n) {
                const auto& f = frames[n];
                // The line as received, and what it resolves to when symbols are known.
                std::printf("        %s%s\n", clip(f.raw, 1024).c_str(),
                            f.resolved ? ("  -> " + clip(f.label(), 1024)).c_str() : "");
            }
        }
        const auto feedback = store.feedback();
        std::printf("\nfeedback: %zu\n", feedback.size());
        for (const auto& f : feedback) {
            std::printf("%-5lld %-10s %s\n", static_cast<long long>(f["id"].get<std::int64_t>()),
                        clip(f["type"], 40).c_str(), clip(f["message"], 100).c_str());
            printFeedbackDetails(f["body"], lines);
        }
        const auto files = store.files();
        std::printf("\nfiles: %zu\n", files.size());
        for (const auto& f : files)
            std::printf("%-5lld %lld bytes\n", static_cast<long long>(f["id"].get<std::int64_t>()),
                        static_cast<long long>(f["size"].get<std::int64_t>()));
        const auto symbolList = symbolFiles->list();
        std::printf("\nsymbol files: %zu\n", symbolList.size());
        for (const auto& sf : symbolList)
            std::printf("%-20s %-12s %-30s build-id %s, %zu functions, %zu line records\n", clip(sf.appKey, 100).c_str(),
                        clip(sf.version, 100).c_str(), clip(sf.image, 100).c_str(),
                        sf.buildId.empty() ? "none" : clip(sf.buildId, 100).c_str(), sf.functions, sf.lines);
    } catch (const std::exception& e) {
        return fail(std::string("dump: ") + e.what());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "dump") == 0) return dump(argc, argv);

    std::string host = "127.0.0.1", db = kDefaultDb, policyFile;
    collector::Access access;
    int port = 8480, controlPort = -1, keepDays = 0;
    bool verbose = false;
    collector::Json cli = collector::Json::object();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        int n = 0;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--test-mode") {
            access.testMode = true;
        } else if (!hasValue) {
            return fail("missing value for " + a + "\n" + kUsage);
        } else if (a == "--host") {
            host = argv[++i];
        } else if (a == "--port") {
            if (!parseInt(argv[++i], port) || port < 0 || port > 65535) return fail("bad port");
        } else if (a == "--keep-days") {
            if (!parseInt(argv[++i], keepDays) || keepDays < 1) return fail("--keep-days needs a number of days >= 1");
        } else if (a == "--db" || a == "--db-url") {
            db = argv[++i];
        } else if (a == "--control-port") {
            if (!parseInt(argv[++i], controlPort) || controlPort < 0 || controlPort > 65535)
                return fail("bad control port");
        } else if (a == "--trusted-proxy") {
            access.trustedProxies.push_back(argv[++i]);
        } else if (a == "--public-url") {
            access.publicUrl = argv[++i];
            if (access.publicUrl.rfind("http://", 0) != 0 && access.publicUrl.rfind("https://", 0) != 0)
                return fail("--public-url needs an http:// or https:// address");
        } else if (a == "--admin-token") {
            access.adminToken = argv[++i];
            if (access.adminToken.empty()) return fail("--admin-token must not be empty");
        } else if (a == "--admin-token-file") {
            std::ifstream in(argv[++i]);
            std::string token;
            if (!in || !std::getline(in, token)) return fail(std::string("cannot read the token file ") + argv[i]);
            while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
            if (token.empty()) return fail(std::string("the token file is empty: ") + argv[i]);
            access.adminToken = token;
        } else if (a == "--policy") {
            policyFile = argv[++i];
        } else if (a == "--answer") {
            cli["mode"] = argv[++i];
        } else if (a == "--slow-ms" || a == "--hold-ms") {
            if (!parseInt(argv[++i], n) || n < 0) return fail("bad value for " + a);
            cli[a == "--slow-ms" ? "slowMs" : "holdMs"] = n;
        } else if (a == "--config-json") {
            auto cfg = collector::Json::parse(argv[++i], nullptr, false);
            if (cfg.is_discarded() || !cfg.is_object()) return fail("--config-json needs a JSON object");
            cli["config"] = cfg;
        } else {
            return fail("unknown argument " + a + "\n" + kUsage);
        }
    }
    if (auto problem = collector::validatePolicy(cli); !problem.empty()) return fail(problem);

    // Signals are taken by one thread with sigwait; every other thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Every waiting connection holds a descriptor; take all the system allows.
    if (rlimit rl{}; getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }

    try {
        collector::Store store(db);
        const auto symbolFiles = installSymbolication(store, db);
        collector::Policy policy;
        policy.share(store);
        policy.setCommandLine(cli);
        policy.setFile(policyFile);
        collector::Server server(store, policy, verbose, access);
        server.setSymbolStore(symbolFiles.get());
        const int bound = server.bind(host, port);
        if (bound < 0) return fail("cannot listen on " + host + ":" + std::to_string(port));
        const int control = controlPort >= 0 ? server.bindControl(controlPort) : 0;
        if (control < 0) return fail("cannot listen on 127.0.0.1:" + std::to_string(controlPort));

        std::mutex doneMutex;
        std::condition_variable doneCv;
        bool done = false;
        std::thread signalThread([&] {
            int sig = 0;
            sigwait(&stopSignals, &sig);
            server.stop();
            // Idle keep-alive connections may keep workers around for seconds; do not wait
            // for them. Closing the store first waits for any write in progress.
            std::unique_lock lock(doneMutex);
            if (!doneCv.wait_for(lock, std::chrono::milliseconds(1500), [&] { return done; })) {
                store.close();
                std::_Exit(0);
            }
        });

        // Retention, hourly until serving ends.
        bool serving = true;
        std::thread retention;
        if (keepDays > 0)
            retention = std::thread([&] {
                std::unique_lock lock(doneMutex);
                while (serving) {
                    lock.unlock();
                    try {
                        const auto removed = store.removeBefore(collector::nowSeconds() - keepDays * 86400.0);
                        if (removed > 0) std::cerr << "quillon-collector: removed " << removed << " old rows\n";
                    } catch (const std::exception& e) {
                        std::cerr << "quillon-collector: retention: " << e.what() << "\n";
                    }
                    lock.lock();
                    doneCv.wait_for(lock, std::chrono::hours(1), [&] { return !serving; });
                }
            });

        std::printf("listening on %s:%d\n", host.c_str(), bound);
        if (controlPort >= 0) std::printf("control on 127.0.0.1:%d\n", control);
        std::fflush(stdout);
        if (verbose) std::cerr << "quillon-collector: database " << db << "\n";
        if (!collector::isLoopback(host) && access.adminToken.empty())
            std::cerr << "quillon-collector: listening beyond loopback without --admin-token: the web page is off\n";
        server.run();
        {
            std::lock_guard lock(doneMutex);
            done = true;
            serving = false;
        }
        doneCv.notify_all();
        if (retention.joinable()) retention.join();
        kill(getpid(), SIGTERM);  // wakes the signal thread when serving ended on its own
        signalThread.join();
        store.close();
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    std::fflush(stdout);
    std::_Exit(0);
}
