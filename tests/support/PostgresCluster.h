// A PostgreSQL cluster of the test's own: initdb into a temporary directory, a server that
// listens only on a Unix socket there, and everything removed again when the object goes.
// Run as "nobody" when the tests run as root (the server refuses root). Throws, with what to
// do, when PostgreSQL is not installed: the tests that need it fail rather than skip.
#pragma once

#include <glob.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace testenv {

class PostgresCluster {
public:
    // durable: fsync on, as a production server runs (benchmarks); tests never lose power,
    // only processes, and run without.
    explicit PostgresCluster(bool durable = false) {
        glob_t g{};
        if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) != 0 || g.gl_pathc == 0) {
            ::globfree(&g);
            throw std::runtime_error(
                "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb): the store tests run against "
                "both engines; install Debian's postgresql package (scripts/setup-deps does)");
        }
        bin_ = std::filesystem::path(g.gl_pathv[g.gl_pathc - 1]).parent_path().string();
        ::globfree(&g);
        char tmpl[] = "/tmp/quillon-pg-XXXXXX";
        if (!::mkdtemp(tmpl)) throw std::runtime_error("cannot create a directory for PostgreSQL");
        dir_ = tmpl;
        if (::geteuid() == 0) {
            const passwd* pw = ::getpwnam("nobody");
            if (!pw || ::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0)
                throw std::runtime_error("cannot hand " + dir_ + " to the user nobody");
            asUser_ = "runuser -u nobody -- ";
        }
        run(bin_ + "/initdb -D " + dir_ + "/data -U postgres --auth=trust -E UTF8 --locale=C --no-sync");
        // No TCP at all: a Unix socket in the directory.
        run(bin_ + "/pg_ctl -D " + dir_ + "/data -l " + dir_ + "/server.log -w -t 60 -o \"-k " + dir_ +
            " -c listen_addresses='' -c max_connections=200" + (durable ? "" : " -c fsync=off") + "\" start");
        started_ = true;
    }
    ~PostgresCluster() {
        if (started_) std::system((asUser_ + bin_ + "/pg_ctl -D " + dir_ + "/data -m immediate -w stop >/dev/null 2>&1 </dev/null").c_str());
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    std::string conninfo(const std::string& database) const {
        return "host=" + dir_ + " user=postgres dbname=" + database;
    }
    // A connection string for a new, empty database.
    std::string newDatabase() {
        const std::string name = "t" + std::to_string(++databases_);
        run(bin_ + "/createdb -h " + dir_ + " -U postgres " + name);
        return conninfo(name);
    }
    const std::string& dir() const { return dir_; }

private:
    void run(const std::string& command) {
        const std::string log = dir_ + "/command.log";
        if (std::system((asUser_ + command + " >" + log + " 2>&1 </dev/null").c_str()) != 0) {
            std::ifstream in(log), server(dir_ + "/server.log");
            std::ostringstream out;
            out << in.rdbuf() << server.rdbuf();
            throw std::runtime_error("PostgreSQL: " + command + " failed:\n" + out.str());
        }
    }
    std::string bin_, dir_, asUser_;
    bool started_ = false;
    int databases_ = 0;
};

}  // namespace testenv
