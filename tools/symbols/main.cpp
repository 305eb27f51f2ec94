// quillon-symbols: writes symbol files of ELF images and uploads them to the collector, which
// turns the offsets of crash backtraces into function, file and line.
#include "Dumper.h"
#include "SymbolStore.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* kUsage =
    "usage: quillon-symbols dump [--name IMAGE] [--debug-dir DIR] FILE\n"
    "       quillon-symbols upload --collector URL --app-key KEY --version VERSION\n"
    "                              [--token TOKEN] [--debug-dir DIR] FILE...\n"
    "\n"
    "dump    writes the symbol file of an ELF executable or shared library to stdout: function\n"
    "        ranges with demangled names and line records, from the file's symbol table and\n"
    "        DWARF, or from its separate debug file (found through .gnu_debuglink next to it,\n"
    "        in .debug/, or by build-id under DIR and /usr/lib/debug).\n"
    "upload  dumps each FILE and sends it, gzip-compressed, to URL's /api/symbols under the\n"
    "        application key and the version string crash records carry in \"av\", e.g. \"1.4(27)\".\n"
    "        An earlier upload with the same key, version and image name is replaced.\n"
    "\n"
    "  --name IMAGE     image name to record (default: FILE's name, as backtraces show it)\n"
    "  --token TOKEN    the collector's page token (needed when it does not run on loopback)\n";

int fail(const std::string& msg, int code = 1) {
    std::cerr << "quillon-symbols: " << msg << "\n";
    return code;
}

std::size_t collect(char* data, std::size_t size, std::size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

std::string escape(CURL* curl, const std::string& s) {
    char* e = curl_easy_escape(curl, s.data(), static_cast<int>(s.size()));
    std::string out = e ? e : "";
    curl_free(e);
    return out;
}

// Posts one symbol file; prints what the collector stored. False on any failure.
bool upload(const std::string& collector, const std::string& token, const std::string& appKey,
            const std::string& version, const std::string& text, const std::string& file) {
    CURL* curl = curl_easy_init();
    if (!curl) return fail("cannot start libcurl"), false;
    std::string base = collector;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (base.size() < 12 || base.compare(base.size() - 12, 12, "/api/symbols") != 0) base += "/api/symbols";
    const std::string url = base + "?ak=" + escape(curl, appKey) + "&av=" + escape(curl, version);
    const std::string body = symbols::gzip(text);
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/gzip");
    if (!token.empty()) headers = curl_slist_append(headers, ("Authorization: Bearer " + token).c_str());
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 300L);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) return fail(file + ": " + url + ": " + curl_easy_strerror(rc)), false;
    const auto json = nlohmann::json::parse(answer, nullptr, false);
    if (status != 200 || !json.is_object() || !json.value("ok", false)) {
        std::string why = json.is_object() && json.contains("error") ? json["error"].dump() : answer.substr(0, 300);
        return fail(file + ": collector answered HTTP " + std::to_string(status) + ": " + why), false;
    }
    std::printf("uploaded %s (build-id %s): %zu functions, %zu line records, key %s, version %s%s\n",
                json.value("image", "").c_str(), json.value("buildId", "").empty() ? "none" : json.value("buildId", "").c_str(),
                json.value("functions", std::size_t{0}), json.value("lines", std::size_t{0}), appKey.c_str(),
                version.c_str(), json.value("replaced", false) ? " (replaced)" : "");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return fail(std::string("missing command\n") + kUsage, 2);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command != "dump" && command != "upload") return fail("unknown command " + command + "\n" + kUsage, 2);
    symbols::DumpOptions options;
    std::string collector, appKey, token;
    std::optional<std::string> version;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a.rfind("--", 0) == 0 && !hasValue) {
            return fail("missing value for " + a, 2);
        } else if (a == "--name") {
            options.name = argv[++i];
        } else if (a == "--debug-dir") {
            options.debugDir = argv[++i];
        } else if (command == "upload" && a == "--collector") {
            collector = argv[++i];
        } else if (command == "upload" && a == "--app-key") {
            appKey = argv[++i];
        } else if (command == "upload" && a == "--version") {
            version = argv[++i];
        } else if (command == "upload" && a == "--token") {
            token = argv[++i];
        } else if (a.rfind("--", 0) == 0) {
            return fail("unknown option " + a + "\n" + kUsage, 2);
        } else {
            files.push_back(a);
        }
    }
    if (command == "dump") {
        if (files.size() != 1) return fail("dump takes one FILE\n" + std::string(kUsage), 2);
        std::string error;
        auto sf = symbols::dumpSymbols(files[0], options, error);
        if (!sf) return fail(error);
        const std::string text = sf->serialize();
        return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (collector.empty() || appKey.empty() || !version || files.empty())
        return fail("upload needs --collector, --app-key, --version and at least one FILE\n" + std::string(kUsage), 2);
    if (files.size() > 1 && !options.name.empty()) return fail("--name applies to one FILE only", 2);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    for (const auto& file : files) {
        std::string error;
        auto sf = symbols::dumpSymbols(file, options, error);
        if (!sf) {
            status = fail(error);
            continue;
        }
        if (!upload(collector, token, appKey, *version, sf->serialize(), file)) status = 1;
    }
    curl_global_cleanup();
    return status;
}
