#include "Web.h"

#include "Analysis.h"
#include "Bounded.h"
#include "Symbolication.h"

#include <httplib.h>
#include <kainjow/mustache.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

namespace collector {

// Defined in WebTemplates.cpp.
const std::map<std::string, std::string>& webTemplates();

namespace {

using Mdata = kainjow::mustache::data;

// What a page shows of stored values: whatever a client sent, a page stays small and quick.
// The full values stay one click away as raw JSON.
constexpr std::size_t kField = 1000;      // one value
constexpr std::size_t kTitle = 300;       // headings, names
constexpr std::size_t kLine = 1024;       // one backtrace, log or trace line
constexpr std::size_t kFrames = 256;      // backtrace lines read
constexpr std::size_t kRows = 500;        // log lines, trace entries, breadcrumbs, key-value rows
constexpr std::size_t kRaw = 64 * 1024;   // the record's JSON shown on the page
constexpr int kDepth = 6;                 // nesting shown as key-value rows

Mdata toData(const Json& j) {
    switch (j.type()) {
    case Json::value_t::object: {
        Mdata d{Mdata::type::object};
        for (auto it = j.begin(); it != j.end(); ++it) d.set(it.key(), toData(it.value()));
        return d;
    }
    case Json::value_t::array: {
        Mdata d{Mdata::type::list};
        for (const auto& v : j) d.push_back(toData(v));
        return d;
    }
    case Json::value_t::string:
        // An empty text is false, so "{{#x}}...{{/x}}" leaves out what is missing.
        return j.get_ref<const std::string&>().empty() ? Mdata(false) : Mdata(j.get<std::string>());
    case Json::value_t::boolean:
        return Mdata(j.get<bool>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return Mdata(j.dump());
    default:
        return Mdata(false);
    }
}

std::string text(const Json& obj, const char* key) {
    if (!obj.is_object()) return {};
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return {};
    return valueText(*it, kField);
}

const Json& member(const Json& obj, const char* key) {
    static const Json none;
    if (!obj.is_object()) return none;
    auto it = obj.find(key);
    return it == obj.end() ? none : *it;
}

std::string join(const Json& list, const char* sep) {
    std::string out;
    if (!list.is_array()) return valueText(list, kField);
    for (const auto& v : list) {
        const std::string s = valueText(v, kField);
        if (s.empty()) continue;
        if (!out.empty()) out += sep;
        out += s;
        if (out.size() > kField) break;
    }
    return clipText(out, kField);
}

std::string clip(const std::string& s, std::size_t n) { return clipText(s, n); }

// A stored text field of the store's own rows (a summary), clipped for the page.
std::string field(const Json& row, const char* key, std::size_t n = kField) { return valueText(member(row, key), n); }

// At most kFrames lines of at most kLine bytes: what the page reads of a backtrace.
std::string pageBacktrace(const std::string& text) {
    std::string out;
    std::size_t lines = 0;
    for (std::size_t pos = 0; pos < text.size() && lines < kFrames; ++lines) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        out += clipText(text.substr(pos, std::min(end - pos, kLine + 8)), kLine);
        out += '\n';
        pos = end + 1;
    }
    return out;
}

std::string bytesText(const std::string& digits) {
    char* end = nullptr;
    const double v = std::strtod(digits.c_str(), &end);
    if (digits.empty() || (end && *end)) return digits;
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    double x = v;
    int u = 0;
    while (x >= 1024 && u < 4) {
        x /= 1024;
        ++u;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", x, units[u]);
    return buf;
}

std::string firstOf(const Json& arrayValue) {
    return arrayValue.is_array() && !arrayValue.empty() && arrayValue[0].is_string() ? arrayValue[0].get<std::string>()
                                                                                     : std::string();
}

std::string percentText(double fraction) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%", fraction * 100);
    return buf;
}

// A local file of this collector ("…/_collector/files/N.jpg") as the page's own path.
std::string localImage(const std::string& url) {
    static const std::string marker = "/_collector/files/";
    const std::size_t at = url.rfind(marker);
    if (at == std::string::npos || url.size() < 4 || url.compare(url.size() - 4, 4, ".jpg") != 0) return {};
    const std::size_t from = at + marker.size(), digits = url.size() - 4 - from;
    if (digits == 0 || digits > 18 || url.find_first_not_of("0123456789", from) != url.size() - 4) return {};
    return "/files/" + url.substr(from, digits) + ".jpg";
}

std::string typeLabel(const std::string& type) {
    if (type == "PROBLEM") return "bug";
    if (type == "FEEDBACK") return "suggestion";
    if (type == "OTHER") return "API message";
    if (type == "CRASH") return "crash";
    if (type == "DEBUG") return "debug";
    return type.empty() ? "(no type)" : type;
}

std::string languageOf(const std::string& name) {
    if (name == "cpp") return "C++";
    if (name == "lua") return "Lua";
    if (name == "js") return "JavaScript";
    if (name == "C#") return "C#";
    return "object exception";
}

Json feedbackSummary(const Json& row) {
    const Json& body = row["body"];
    static const Json none;
    const Json& messages = member(body, "messages");
    const Json& msg0 = messages.is_array() && !messages.empty() ? messages[0] : none;
    const Json& data = member(msg0, "data");
    double t = row["time"].get<double>();
    if (member(msg0, "timestamp").is_number()) t = msg0["timestamp"].get<double>();
    const std::string url = clipText(firstOf(member(member(data, "keys"), "modified")), kField);
    const std::string type = field(row, "type", kTitle);
    const std::string comment = field(row, "message", 4 * kField);
    return {{"id", row["id"]},
            {"href", "/feedback/" + std::to_string(row["id"].get<std::int64_t>())},
            {"time", t},
            {"timeText", formatTime(t)},
            {"appkey", field(row, "appkey", kTitle)},
            {"type", type},
            {"typeLabel", typeLabel(type)},
            {"comment", comment},
            {"commentShort", clip(comment, 160)},
            {"contact", text(data, "contact")},
            {"imageUrl", url},
            {"image", localImage(url)},
            {"hasImage", !localImage(url).empty()}};
}

// The text members of a row of the store's, clipped for the page.
void clipRow(Json& row, std::size_t n = kField) {
    for (auto& v : row)
        if (v.is_string() && v.get_ref<const std::string&>().size() > n) v = clipText(v.get_ref<const std::string&>(), n);
}

// Readable names of the feedback device record's keys.
std::string deviceLabel(const std::string& key) {
    static const std::map<std::string, std::string> names = {
        {"und", "Device identifier"}, {"model", "Model"}, {"sysver", "OS version"}, {"sysname", "OS code"},
        {"ram.total", "Memory total"}, {"ram.free", "Memory in use"}, {"rom.total", "Storage total"},
        {"rom.free", "Storage free"}, {"network.type", "Network type"}, {"network.carrier.isp", "Carrier (MCC+MNC)"},
        {"network.carrier.type", "Carrier network"}, {"battery", "Battery"}, {"power", "Charging"},
        {"jailbreak", "Jailbroken"}, {"rotate", "Orientation code"}, {"location.lat", "Latitude"},
        {"location.lot", "Longitude"}};
    auto it = names.find(key);
    return it == names.end() ? key : it->second;
}

// Rows "a.b.c" = value of an object's members, nested objects flattened down to kDepth levels
// (deeper ones shown as JSON text), at most kRows rows.
void keyValues(const Json& obj, const std::string& prefix, int depth, Json& rows) {
    if (!obj.is_object()) return;
    for (auto it = obj.begin(); it != obj.end() && rows.size() < kRows; ++it) {
        const std::string key = prefix + clipText(it.key(), kTitle);
        if (it->is_object() && !it->empty() && depth < kDepth) {
            keyValues(*it, key + ".", depth + 1, rows);
            continue;
        }
        rows.push_back({{"key", key}, {"value", valueText(*it, kField)}});
    }
}

Json keyValues(const Json& obj) {
    Json rows = Json::array();
    keyValues(obj, "", 0, rows);
    return rows;
}

// "[seconds since 1970] message" lines read better with a date.
std::string logLine(const std::string& s) {
    const std::size_t close = s.find("] ");
    if (s.empty() || s[0] != '[' || close == std::string::npos || close > 32) return s;
    const std::string stamp = s.substr(1, close - 1);
    const std::size_t dot = stamp.find('.');
    const std::size_t whole = dot == std::string::npos ? stamp.size() : dot;
    if (whole < 9 || whole > 11 || stamp.find_first_not_of("0123456789.") != std::string::npos ||
        (dot != std::string::npos && (dot + 1 == stamp.size() || stamp.find('.', dot + 1) != std::string::npos)))
        return s;
    return formatTime(std::strtod(stamp.c_str(), nullptr)) + "  " + s.substr(close + 2);
}

// The value of one cookie in a Cookie header ("a=1; b=2"), "" when absent.
std::string cookieValue(const std::string& header, const std::string& name) {
    for (std::size_t pos = 0; pos < header.size();) {
        std::size_t end = header.find(';', pos);
        if (end == std::string::npos) end = header.size();
        std::size_t start = header.find_first_not_of(' ', pos);
        if (start < end && header.compare(start, name.size() + 1, name + "=") == 0)
            return header.substr(start + name.size() + 1, end - start - name.size() - 1);
        pos = end + 1;
    }
    return {};
}

constexpr double kDay = 86400;

}  // namespace

std::string formatTime(double seconds) {
    if (seconds <= 0) return {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

Web::Web(Store& store, std::string token, bool tokenRequired)
    : store_(store), token_(std::move(token)), tokenRequired_(tokenRequired) {}

bool Web::authorized(const std::string& bearer, const std::string& cookie, const std::string& query) const {
    if (!tokenRequired_) return true;
    if (token_.empty()) return false;
    auto same = [this](const std::string& given) {
        if (given.size() != token_.size()) return false;
        unsigned char diff = 0;
        for (std::size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ token_[i]);
        return diff == 0;
    };
    return same(bearer) || same(cookie) || same(query);
}

bool Web::requestAuthorized(const httplib::Request& req) const {
    const std::string auth = req.get_header_value("Authorization");
    return authorized(auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : "",
                      cookieValue(req.get_header_value("Cookie"), "quillon_admin"), req.get_param_value("token"));
}

void Web::sendFile(httplib::Response& res, const std::string& data) {
    const bool jpeg = data.rfind("\xFF\xD8\xFF", 0) == 0;
    const bool png = data.rfind("\x89PNG\r\n\x1A\n", 0) == 0;
    res.set_header("Cache-Control", "private, max-age=86400");
    if (!jpeg && !png) res.set_header("Content-Disposition", "attachment");
    res.set_content(data, jpeg ? "image/jpeg" : png ? "image/png" : "application/octet-stream");
}

Json Web::overview(const std::string& ak, const std::string& filter, double now) {
    Json groups = store_.crashGroups(ak, filter);
    std::int64_t total = 0;
    for (const auto& g : groups) total += g["count"].get<std::int64_t>();
    const char* palette[] = {"#c0392b", "#2e86c1", "#d68910", "#229954", "#7d3c98", "#17a589", "#a04000", "#566573"};
    Json share = Json::array();
    std::int64_t shown = 0;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        Json& g = groups[i];
        clipRow(g, kTitle);
        const std::int64_t n = g["count"].get<std::int64_t>();
        g["href"] = "/groups/" + g["group"].get<std::string>();
        g["firstText"] = formatTime(g["first"].get<double>());
        g["lastText"] = formatTime(g["last"].get<double>());
        g["appVersionsText"] = join(g["appVersions"], ", ");
        g["osVersionsText"] = join(g["osVersions"], ", ");
        g["shareText"] = percentText(total ? double(n) / total : 0);
        if (i < 7) {
            share.push_back({{"label", clip(g["name"].get<std::string>() + ": " + g["reason"].get<std::string>(), 70)},
                             {"count", n}, {"fraction", total ? double(n) / total : 0}, {"color", palette[i]}});
            shown += n;
        }
    }
    if (total > shown)
        share.push_back({{"label", "other groups"}, {"count", total - shown},
                         {"fraction", double(total - shown) / total}, {"color", palette[7]}});
    // Share chart: one horizontal bar per group, on a 0–100 % scale.
    for (std::size_t i = 0; i < share.size(); ++i) {
        Json& s = share[i];
        s["y"] = 6 + 28 * i;
        s["ty"] = 6 + 28 * i + 15;
        s["width"] = std::max(1.0, std::round(s["fraction"].get<double>() * 300));
        s["tx"] = s["width"].get<double>() + 6;
        s["pct"] = percentText(s["fraction"].get<double>());
    }

    // Crashes per day, the last 30 days up to today (UTC).
    const std::int64_t today = static_cast<std::int64_t>(std::floor(now / kDay));
    std::map<std::int64_t, std::int64_t> perDay;
    for (const auto& d : store_.crashesPerDay(double(today - 29) * kDay, ak))
        perDay[d["day"].get<std::int64_t>()] = d["count"].get<std::int64_t>();
    std::int64_t maxDay = 1;
    for (auto& [d, n] : perDay) maxDay = std::max(maxDay, n);
    Json days = Json::array();
    for (std::int64_t d = today - 29; d <= today; ++d) {
        const std::int64_t n = perDay.count(d) ? perDay[d] : 0;
        const int i = static_cast<int>(d - (today - 29));
        const double h = n ? std::max(2.0, std::round(120.0 * n / maxDay)) : 0;
        const std::string date = formatTime(double(d) * kDay).substr(0, 10);
        days.push_back({{"date", date}, {"count", n}, {"x", 4 + i * 20}, {"y", 126 - h}, {"h", h},
                        {"label", i % 7 == 1 ? date.substr(5) : ""}, {"lx", 4 + i * 20 + 8}});
    }

    Json keys = Json::array();
    for (const auto& k : store_.appKeys()) keys.push_back({{"key", k}, {"selected", k == ak}});
    Json latest = Json::array();
    for (const auto& f : store_.feedbackPage(5, 0)) latest.push_back(feedbackSummary(f));
    const std::size_t exceptionGroups = store_.exceptionGroups(ak, "").size();
    return {{"title", "Crashes"},
            {"ak", ak},
            {"q", filter},
            {"appKeys", keys},
            {"crashCount", total},
            {"groupCount", groups.size()},
            {"groups", groups},
            {"hasGroups", !groups.empty()},
            {"days", days},
            {"dayMax", maxDay},
            {"share", share},
            {"shareHeight", 12 + 28 * share.size()},
            {"exceptionGroups", exceptionGroups},
            {"feedbackCount", store_.feedbackCount()},
            {"latestFeedback", latest},
            {"hasFeedback", !latest.empty()}};
}

std::optional<Json> Web::group(const std::string& groupId) {
    Json crashes = store_.groupCrashes(groupId, 200);
    if (crashes.empty()) return std::nullopt;
    auto head = store_.record(crashes[0]["id"].get<std::int64_t>());
    for (auto& c : crashes) {
        clipRow(c, kTitle);
        c["href"] = "/crashes/" + std::to_string(c["id"].get<std::int64_t>());
        c["timeText"] = formatTime(c["time"].get<double>());
    }
    const Json none = Json::object();
    const Json& h = head ? *head : none;
    return Json{{"title", head ? field(h, "name", kTitle) : "Crash group"},
                {"group", groupId},
                {"name", field(h, "name", kTitle)},
                {"reason", field(h, "masked")},
                {"frame", field(h, "frame")},
                {"shown", crashes.size()},
                {"crashes", crashes}};
}

std::optional<Json> Web::crash(std::int64_t id) {
    auto rec = store_.record(id);
    if (!rec) return std::nullopt;
    const Json& r = *rec;
    const Json& body = r["body"];
    const Json& dei = deviceRecord(body);
    const Json& data = member(body, "data");
    const Json& nwt = member(body, "nwt");
    const Json& mach = member(body, "mach");
    const std::string ak = field(r, "ak", kTitle);
    const std::string itemAc = field(r, "item_ac", kTitle);
    const std::string name = field(r, "name", kTitle);

    const auto parsed = parseBacktrace(pageBacktrace(field(r, "backtrace", kFrames * (kLine + 1))), &frameResolver(), ak,
                                       text(dei, "av"), name == "exception Signal");
    const int top = firstApplicationFrame(parsed, name == "exception Signal");
    Json frames = Json::array();
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const Frame& f = parsed[i];
        frames.push_back({{"index", i}, {"label", f.label()}, {"image", f.image}, {"offset", shortHex(f.offset)}, {"address", f.address},
                          {"raw", f.raw}, {"resolved", f.resolved.has_value()},
                          {"named", f.resolved.has_value() || !f.function.empty()},
                          {"top", static_cast<int>(i) == top}, {"system", f.system}});
    }

    Json device = Json::array();
    auto add = [&device](const char* label, const std::string& value) {
        if (!value.empty()) device.push_back({{"key", label}, {"value", value}});
    };
    add("Application", text(dei, "appnm").empty() ? text(dei, "an") : text(dei, "appnm"));
    add("Bundle", text(dei, "pgn"));
    add("Version", text(dei, "av"));
    add("Model", text(dei, "mt"));
    add("OS version", text(dei, "ov"));
    add("Device identifier", text(dei, "und"));
    add("Orientation", text(dei, "ori"));
    if (dei.contains("sw") || dei.contains("sh")) add("Screen", text(dei, "sw") + " × " + text(dei, "sh") + " points");
    add("Channel", text(dei, "chid"));
    const Json& loc = member(dei, "loc");
    if (loc.is_object() && (text(loc, "lat") != "0.0" || text(loc, "lot") != "0.0"))
        add("Location", text(loc, "lat") + ", " + text(loc, "lot"));
    const std::string nt = text(nwt, "nt");
    add("Network", nt == "1" ? "Wi-Fi" : nt.rfind("0/", 0) == 0 ? "cellular (" + nt.substr(2) + ")" : nt == "0" ? "cellular" : nt);
    add("Carrier (MCC+MNC)", text(nwt, "isp"));

    Json diagnostics = Json::array();
    auto diag = [&diagnostics](const char* label, const std::string& value) {
        diagnostics.push_back({{"key", label}, {"value", value.empty() ? "unknown" : value}});
    };
    if (mach.is_object()) {
        diag("Disk total", bytesText(firstOf(member(mach, "tssd"))));
        diag("Disk free", bytesText(firstOf(member(mach, "assd"))));
        diag("Memory in use", bytesText(firstOf(member(mach, "mem"))));
        const std::string pow = firstOf(member(mach, "pow"));
        diag("Battery", pow.empty() || pow[0] == '-' ? "" : percentText(std::atof(pow.c_str())));
        const std::string cpu = firstOf(member(mach, "cpu"));
        diag("Processor (all threads)", cpu.empty() ? "" : percentText(std::atof(cpu.c_str())) + " of one core");
    }

    std::string user;
    Json crumbs = Json::array();
    const Json& csc = member(data, "csc");
    if (csc.is_array()) {
        for (const auto& part : csc) {
            if (part.is_object() && part.contains("une")) user = text(part, "une");
            if (!part.is_object() || !part.contains("bbs") || !part["bbs"].is_array()) continue;
            const double crashAt = r["crashTime"].get<double>();
            for (const auto& b : part["bbs"]) {
                if (crumbs.size() >= kRows) break;
                const double t = member(b, "tm").is_number() ? b["tm"].get<double>() / 1e9 : 0;
                const bool marker = text(b, "nm") == "tm" && crumbs.empty();
                char rel[48] = "";
                if (t > 0 && crashAt > 0) std::snprintf(rel, sizeof rel, "%+.3f s", t - crashAt);
                char ms[8];
                std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(std::fmod(t, 1.0) * 1000));
                crumbs.push_back({{"time", t > 0 ? formatTime(t) + ms : ""}, {"relative", rel},
                                  {"text", marker ? "run started" : text(b, "nm")}, {"marker", marker}});
            }
        }
    }

    Json extension = nullptr;
    if (!text(dei, "expid").empty())
        extension = {{"name", text(dei, "appnm")}, {"bundle", text(dei, "pgn")}, {"point", text(dei, "expid")},
                     {"uuid", text(dei, "uuid")}};

    const bool isException = itemAc == "exception";
    const std::string raw = previewJson(body, kRaw, true);
    return Json{{"title", name.empty() ? "Crash " + std::to_string(id) : name},
                {"id", id},
                {"kind", isException ? "Customized exception" : itemAc == "submit" ? "Crash" : itemAc},
                {"isException", isException},
                {"language", isException ? languageOf(name) : ""},
                {"occurrences", r["count"]},
                {"ak", ak},
                {"name", name},
                {"reason", field(r, "reason")},
                {"message", text(data, "msg")},
                {"crashTime", r["crashTime"]},
                {"timeText", formatTime(r["crashTime"].get<double>())},
                {"receivedText", formatTime(r["time"].get<double>())},
                {"group", r["group"]},
                {"groupHref", itemAc == "submit" ? "/groups/" + field(r, "group", kTitle) : ""},
                {"frames", frames},
                {"hasFrames", !frames.empty()},
                {"extension", extension},
                {"device", device},
                {"diagnostics", diagnostics},
                {"hasDiagnostics", !diagnostics.empty()},
                {"user", user},
                {"breadcrumbs", crumbs},
                {"hasBreadcrumbs", !crumbs.empty()},
                {"rawHref", "/api/crashes/" + std::to_string(id) + "/raw"},
                {"raw", raw},
                {"rawCut", raw.size() >= kRaw}};
}

Json Web::exceptions(const std::string& ak, const std::string& filter) {
    Json groups = store_.exceptionGroups(ak, filter);
    std::int64_t total = 0;
    for (auto& g : groups) {
        g["trace"] = pageBacktrace(field(g, "trace", kFrames * (kLine + 1)));
        clipRow(g, kTitle);
        g["language"] = languageOf(g["name"].get<std::string>());
        g["href"] = "/crashes/" + std::to_string(g["latest"].get<std::int64_t>());
        g["lastText"] = formatTime(g["last"].get<double>());
        // Where it happened: the first application frame of a backtrace, or the first lines of a
        // script's own trace.
        std::string trace = g["trace"].get<std::string>();
        const auto frames = parseBacktrace(trace, &frameResolver(), g["ak"].get<std::string>());
        if (!frames.empty() && frames[0].parsed) {
            const int top = firstApplicationFrame(frames, false);
            trace = top >= 0 ? frames[top].label() : "";
        } else {
            std::size_t cut = 0;
            for (int n = 0; n < 3 && cut != std::string::npos; ++n) cut = trace.find('\n', cut ? cut + 1 : 0);
            if (cut != std::string::npos) trace = trace.substr(0, cut);
        }
        g["trace"] = trace;
        total += g["occurrences"].get<std::int64_t>();
    }
    Json keys = Json::array();
    for (const auto& k : store_.appKeys()) keys.push_back({{"key", k}, {"selected", k == ak}});
    return {{"title", "Customized exceptions"}, {"ak", ak},          {"q", filter},
            {"appKeys", keys},                 {"groups", groups}, {"hasGroups", !groups.empty()},
            {"occurrences", total}};
}

Json Web::registrations(const std::string& ak) {
    Json rows = store_.registrations(ak);
    std::int64_t installs = 0;
    for (auto& r : rows) {
        clipRow(r, kTitle);
        r["lastText"] = formatTime(r["last"].get<double>());
        installs += r["installations"].get<std::int64_t>();
    }
    return {{"title", "Registrations"}, {"ak", ak}, {"rows", rows}, {"hasRows", !rows.empty()}, {"installations", installs}};
}

Json Web::feedbackList(int page) {
    constexpr int kPerPage = 50;
    page = std::max(page, 1);
    Json items = Json::array();
    for (const auto& f : store_.feedbackPage(kPerPage, (page - 1) * kPerPage)) items.push_back(feedbackSummary(f));
    const std::int64_t count = store_.feedbackCount();
    return {{"title", "Feedback"},
            {"count", count},
            {"items", items},
            {"hasItems", !items.empty()},
            {"page", page},
            {"prev", page > 1 ? "/feedback?page=" + std::to_string(page - 1) : ""},
            {"next", std::int64_t(page) * kPerPage < count ? "/feedback?page=" + std::to_string(page + 1) : ""}};
}

std::optional<Json> Web::feedback(std::int64_t id) {
    auto row = store_.feedbackItem(id);
    if (!row) return std::nullopt;
    Json model = feedbackSummary(*row);
    const Json& body = (*row)["body"];
    model["title"] = "Feedback " + std::to_string(id);
    const std::string& comment = model["comment"].get_ref<const std::string&>();
    model["heading"] = clip(comment, kTitle);
    model["commentRest"] = comment.size() > kTitle ? comment : "";
    model["appVersion"] = text(body, "app_version");
    model["build"] = text(body, "version_code");
    model["packet"] = text(body, "packetid");
    Json trace = Json::array();
    for (const auto& e : member(body, "operatetrace")) {
        if (trace.size() >= kRows) break;
        const std::string s = valueText(e, kLine);
        // "yyyy-MM-dd HH:mm:ss text"
        const bool stamped = s.size() > 20 && s[4] == '-' && s[10] == ' ' && s[13] == ':' && s[19] == ' ';
        trace.push_back({{"time", stamped ? s.substr(0, 19) : ""}, {"text", stamped ? s.substr(20) : s}});
    }
    Json logs = Json::array();
    for (const auto& l : member(body, "logs")) {
        if (logs.size() >= kRows) break;
        logs.push_back(logLine(valueText(l, kLine)));
    }
    model["trace"] = trace;
    model["hasTrace"] = !trace.empty();
    model["logs"] = logs;
    model["hasLogs"] = !logs.empty();
    model["userData"] = keyValues(member(body, "user_data"));
    model["hasUserData"] = !model["userData"].empty();
    model["device"] = keyValues(member(body, "device"));
    for (auto& row : model["device"]) {
        const std::string key = row["key"].get<std::string>();
        if (key == "ram.total" || key == "ram.free" || key == "rom.total" || key == "rom.free")
            row["value"] = bytesText(row["value"].get<std::string>());
        row["key"] = deviceLabel(key);
    }
    model["hasDevice"] = !model["device"].empty();
    model["rawHref"] = "/api/feedback/" + std::to_string(id) + "/raw";
    model["raw"] = previewJson(body, kRaw, true);
    model["rawCut"] = model["raw"].get_ref<const std::string&>().size() >= kRaw;
    return model;
}

std::string Web::render(const std::string& page, const Json& model) {
    // Parsed templates are kept per thread: rendering walks the parsed tree.
    thread_local std::map<std::string, std::unique_ptr<kainjow::mustache::mustache>> parsed;
    auto get = [](const std::string& name) -> kainjow::mustache::mustache& {
        auto& slot = parsed[name];
        if (!slot) {
            const auto& all = webTemplates();
            auto it = all.find(name);
            slot = std::make_unique<kainjow::mustache::mustache>(it == all.end() ? std::string("?") : it->second);
            if (!slot->is_valid()) throw std::runtime_error("template " + name + ": " + slot->error_message());
        }
        return *slot;
    };
    Mdata data = toData(model);
    data.set("content", get(page).render(data));
    return get("layout").render(data);
}

void Web::install(httplib::Server& s) {
    using httplib::Request;
    using httplib::Response;
    // Checks the token; answers the refusal itself and returns false when the request lacks it.
    auto allow = [this](const Request& req, Response& res, bool html) {
        const std::string query = req.get_param_value("token");
        if (requestAuthorized(req)) {
            if (html && !query.empty() && tokenRequired_ && authorized("", "", query)) {
                // Keep the token in a cookie and take it out of the address bar.
                res.set_header("Set-Cookie", "quillon_admin=" + query + "; Path=/; HttpOnly; SameSite=Strict");
                res.set_redirect(req.path, 303);
                return false;
            }
            return true;
        }
        const std::string why = tokenRequired_ && token_.empty()
                                    ? "This collector listens beyond loopback and was started without an admin token "
                                      "(--admin-token or --admin-token-file), so its pages are off."
                                    : "This page needs the collector's admin token: open it once with ?token=TOKEN, "
                                      "or send \"Authorization: Bearer TOKEN\".";
        res.status = tokenRequired_ && token_.empty() ? 403 : 401;
        if (html)
            res.set_content(render("message", {{"title", "Access"}, {"message", why}}), "text/html; charset=utf-8");
        else
            res.set_content(Json{{"error", why}}.dump(), "application/json");
        return false;
    };
    auto page = [](Response& res, const std::string& name, const std::optional<Json>& model) {
        if (!model) {
            res.status = 404;
            res.set_content(render("message", {{"title", "Not found"}, {"message", "There is no such entry."}}),
                            "text/html; charset=utf-8");
            return;
        }
        res.set_content(render(name, *model), "text/html; charset=utf-8");
    };
    auto api = [](Response& res, const std::optional<Json>& model) {
        if (!model) {
            res.status = 404;
            res.set_content(Json{{"error", "not found"}}.dump(), "application/json");
            return;
        }
        res.set_content(model->dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
    };
    auto param = [](const Request& req, const char* name) { return req.get_param_value(name); };

    // Both renderings of each view.
    struct View {
        std::string path;   // regular expression after "/" or "/api/"
        std::string name;   // template
        std::function<std::optional<Json>(const Request&)> model;
    };
    const std::vector<View> views = {
        {"", "overview",
         [this, param](const Request& r) { return std::optional<Json>(overview(param(r, "ak"), param(r, "q"), nowSeconds())); }},
        {"overview", "overview",
         [this, param](const Request& r) { return std::optional<Json>(overview(param(r, "ak"), param(r, "q"), nowSeconds())); }},
        {R"(groups/([0-9a-f]{1,32}))", "group", [this](const Request& r) { return group(r.matches[1].str()); }},
        {R"(crashes/(\d{1,18}))", "crash", [this](const Request& r) { return crash(std::stoll(r.matches[1].str())); }},
        {"exceptions", "exceptions",
         [this, param](const Request& r) { return std::optional<Json>(exceptions(param(r, "ak"), param(r, "q"))); }},
        {"registrations", "registrations",
         [this, param](const Request& r) { return std::optional<Json>(registrations(param(r, "ak"))); }},
        {"feedback", "feedbackList",
         [this, param](const Request& r) { return std::optional<Json>(feedbackList(std::atoi(param(r, "page").c_str()))); }},
        {R"(feedback/(\d{1,18}))", "feedback", [this](const Request& r) { return feedback(std::stoll(r.matches[1].str())); }},
    };
    for (const auto& v : views) {
        if (!v.path.empty() && v.path != "overview")
            s.Get("/" + v.path, [allow, page, v](const Request& req, Response& res) {
                if (allow(req, res, true)) page(res, v.name, v.model(req));
            });
        if (!v.path.empty())
            s.Get("/api/" + v.path, [allow, api, v](const Request& req, Response& res) {
                if (allow(req, res, false)) api(res, v.model(req));
            });
    }
    s.Get("/", [allow, page, v = views[0]](const Request& req, Response& res) {
        if (allow(req, res, true)) page(res, v.name, v.model(req));
    });
    // The stored records as received.
    s.Get(R"(/api/crashes/(\d{1,18})/raw)", [this, allow, api](const Request& req, Response& res) {
        if (!allow(req, res, false)) return;
        auto r = store_.record(std::stoll(req.matches[1].str()));
        api(res, r ? std::optional<Json>((*r)["body"]) : std::nullopt);
    });
    s.Get(R"(/api/feedback/(\d{1,18})/raw)", [this, allow, api](const Request& req, Response& res) {
        if (!allow(req, res, false)) return;
        auto r = store_.feedbackItem(std::stoll(req.matches[1].str()));
        api(res, r ? std::optional<Json>((*r)["body"]) : std::nullopt);
    });
    s.Get(R"(/files/(\d{1,18})\.jpg)", [this, allow](const Request& req, Response& res) {
        if (!allow(req, res, false)) return;
        auto data = store_.fileData(std::stoll(req.matches[1].str()));
        if (!data) {
            res.status = 404;
            return;
        }
        sendFile(res, *data);
    });
}

}  // namespace collector
