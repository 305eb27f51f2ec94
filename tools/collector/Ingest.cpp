#include "Ingest.h"

#include <quillon/detail/RecordKeys.h>

#include <initializer_list>

namespace collector {

namespace keys = quillon::record;

namespace {

// Builds the tree through nlohmann's own DOM builder, counting levels and values on the way
// and stopping the parse (by answering false) the moment a limit is passed.
class BoundedSax {
public:
    BoundedSax(Json& out, int maxDepth, std::size_t maxValues)
        : dom_(out, false), maxDepth_(maxDepth), maxValues_(maxValues) {}

    bool null() { return value() && dom_.null(); }
    bool boolean(bool v) { return value() && dom_.boolean(v); }
    bool number_integer(Json::number_integer_t v) { return value() && dom_.number_integer(v); }
    bool number_unsigned(Json::number_unsigned_t v) { return value() && dom_.number_unsigned(v); }
    bool number_float(Json::number_float_t v, const Json::string_t& s) { return value() && dom_.number_float(v, s); }
    bool string(Json::string_t& v) { return value() && dom_.string(v); }
    bool binary(Json::binary_t& v) { return value() && dom_.binary(v); }
    bool start_object(std::size_t n) { return enter() && dom_.start_object(n); }
    bool key(Json::string_t& k) { return dom_.key(k); }
    bool end_object() {
        --depth_;
        return dom_.end_object();
    }
    bool start_array(std::size_t n) { return enter() && dom_.start_array(n); }
    bool end_array() {
        --depth_;
        return dom_.end_array();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        if (problem.empty()) problem = "not JSON";
        return false;
    }

    std::string problem;

private:
    bool value() {
        if (++values_ <= maxValues_) return true;
        problem = "holds more than " + std::to_string(maxValues_) + " values";
        return false;
    }
    bool enter() {
        if (++depth_ > maxDepth_) {
            problem = "nests deeper than " + std::to_string(maxDepth_) + " levels";
            return false;
        }
        return value();
    }

    nlohmann::detail::json_sax_dom_parser<Json> dom_;
    int maxDepth_;
    std::size_t maxValues_;
    int depth_ = 0;
    std::size_t values_ = 0;
};

bool allDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Length of the UTF-8 sequence at s[i] when it is well formed (shortest form, no surrogates,
// at most U+10FFFF), else 0.
std::size_t sequenceAt(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80) return 0;
    if (c == 0xE0 && b(i + 1) < 0xA0) return 0;  // overlong
    if (c == 0xED && b(i + 1) > 0x9F) return 0;  // surrogate
    if (c == 0xF0 && b(i + 1) < 0x90) return 0;  // overlong
    if (c == 0xF4 && b(i + 1) > 0x8F) return 0;  // beyond U+10FFFF
    return n;
}

// A value a page or "dump" reads as text that arrived as something else (an array where a
// version belongs) is kept as its JSON text, so no later reader meets an unexpected type.
void keepAsText(Json& object, std::initializer_list<const char*> names) {
    if (!object.is_object()) return;
    for (const char* name : names) {
        auto it = object.find(name);
        if (it != object.end() && !it->is_string()) *it = it->is_null() ? std::string() : it->dump();
    }
}

void normalizeRecordBody(Json& body) {
    if (!body.is_object()) return;
    auto dei = body.find(keys::kDevice);
    Json& device = dei != body.end() && dei->is_object() ? *dei : body;
    keepAsText(device, {keys::kDeviceId, keys::kAppVersion, keys::kOsVersion});
    if (auto data = body.find(keys::kEvent); data != body.end())
        keepAsText(*data, {keys::kName, keys::kEventText, keys::kEventTime, keys::kMessage, keys::kCount});
}

// Envelope values are identifiers; a client of ours sends a few dozen bytes. Longer ones are
// refused rather than cut, since they key the grouping and the filters.
constexpr std::size_t kMaxEnvelopeValue = 256;

// A batch item's "post": a nested object or a JSON text.
bool decodePost(const Json& post, Json& out) {
    if (post.is_object() || post.is_array()) {
        out = post;
        return true;
    }
    if (!post.is_string()) return false;
    auto parsed = parseJson(post.get_ref<const std::string&>());
    if (!parsed) return false;
    out = std::move(*parsed);
    return true;
}

}  // namespace

std::optional<Json> parseJson(std::string_view text, std::string* problem, int maxDepth, std::size_t maxValues) {
    Json out;
    BoundedSax sax(out, maxDepth, maxValues);
    const bool ok = Json::sax_parse(text.begin(), text.end(), &sax, nlohmann::detail::input_format_t::json, true);
    if (ok && sax.problem.empty()) return out;
    if (problem) *problem = sax.problem.empty() ? "not JSON" : sax.problem;
    return std::nullopt;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequenceAt(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string clipText(std::string_view text, std::size_t maxBytes) {
    std::string valid = validUtf8(text);
    if (valid.size() <= maxBytes) return valid;
    std::size_t cut = maxBytes >= 3 ? maxBytes - 3 : 0;
    while (cut > 0 && (static_cast<unsigned char>(valid[cut]) & 0xC0) == 0x80) --cut;
    valid.resize(cut);
    return valid + "\xE2\x80\xA6";
}

std::int64_t countFrom(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '+')) ++i;
    std::int64_t n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (text[i] - '0');
        if (n >= kMaxCount) return kMaxCount;
    }
    return n < 1 ? 1 : n;
}

CrashRequest readCrashRequest(const std::string& path, std::string_view envelope, std::string_view body,
                              bool configEndpoint) {
    CrashRequest out;
    auto refuse = [&](std::string why) {
        out.records.clear();
        out.problem = std::move(why);
        return out;
    };
    const auto env = parseJson(envelope);
    if (!env || !env->is_object()) return refuse("UPLOAD-JSON is not a JSON object");
    for (const char* k : {keys::kAppKey, keys::kEnvelopeTime, keys::kAction, keys::kProtocol, keys::kEnvelopeType}) {
        auto it = env->find(k);
        if (it == env->end() || !it->is_string())
            return refuse(std::string("UPLOAD-JSON lacks string \"") + k + "\"");
        if (it->get_ref<const std::string&>().size() > kMaxEnvelopeValue)
            return refuse(std::string("UPLOAD-JSON \"") + k + "\" is longer than " + std::to_string(kMaxEnvelopeValue) +
                          " bytes");
    }
    Record base;
    base.path = path;
    base.ak = (*env)[keys::kAppKey].get<std::string>();
    base.tm = (*env)[keys::kEnvelopeTime].get<std::string>();
    base.ac = (*env)[keys::kAction].get<std::string>();
    if (!allDigits(base.tm)) return refuse("UPLOAD-JSON tm is not whole seconds: " + base.tm);
    if (configEndpoint && base.ac != "config") return refuse("configuration endpoint got action " + base.ac);

    std::string why;
    auto parsed = parseJson(body, &why);
    if (!parsed) return refuse(why == "not JSON" ? "body is not JSON" : "body " + why);
    Json& json = *parsed;

    auto add = [&](std::string itemAc, Json item) {
        Record r = base;
        r.itemAc = std::move(itemAc);
        r.body = std::move(item);
        normalizeRecordBody(r.body);
        extractException(r);
        out.records.push_back(std::move(r));
    };
    if (base.ac == "register" || base.ac == "submit" || base.ac == "config" || base.ac == "exception") {
        if (!json.is_object()) return refuse(base.ac + " body is not a JSON object");
        add(base.ac, std::move(json));
    } else if (base.ac == "submore") {
        if (!json.is_array() || json.empty()) return refuse("submore body is not a non-empty array");
        for (std::size_t i = 0; i < json.size(); ++i) {
            const Json& item = json[i];
            const std::string where = "submore item " + std::to_string(i);
            auto ac = item.is_object() ? item.find(keys::kAction) : item.end();
            if (!item.is_object() || ac == item.end() || !ac->is_string() || !item.contains(keys::kPost))
                return refuse(where + " lacks \"ac\" or \"post\"");
            if (ac->get_ref<const std::string&>().size() > kMaxEnvelopeValue)
                return refuse(where + " \"ac\" is longer than " + std::to_string(kMaxEnvelopeValue) + " bytes");
            Json post;
            if (!decodePost(item[keys::kPost], post)) return refuse(where + " post is not JSON");
            add(ac->get<std::string>(), std::move(post));
        }
    } else {
        return refuse("unknown action " + base.ac);
    }
    return out;
}

FeedbackRequest readFeedbackRequest(std::string_view contentType, std::string_view body) {
    FeedbackRequest out;
    if (contentType.rfind("application/json", 0) != 0) {
        out.problem = "Content-Type is not application/json";
        return out;
    }
    std::string why;
    auto parsed = parseJson(body, &why);
    if (!parsed || !parsed->is_object()) {
        out.problem = parsed || why == "not JSON" ? "body is not a JSON object" : "body " + why;
        return out;
    }
    out.body = std::move(*parsed);
    // "logs" and "user_data" travel as JSON texts; keep them decoded.
    for (const char* k : {"logs", "user_data"}) {
        auto it = out.body.find(k);
        if (it == out.body.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) continue;
        auto inner = parseJson(it->get_ref<const std::string&>());
        if (!inner) {
            out.problem = std::string("\"") + k + "\" is not JSON text";
            return out;
        }
        *it = std::move(*inner);
    }
    // The page lists reports by these three; the body keeps them whole. An application key or
    // a type is a short name; the comment is what a person typed, so it is cut generously.
    if (auto v = out.body.find("appkey"); v != out.body.end() && v->is_string())
        out.appkey = clipText(v->get_ref<const std::string&>(), 256);
    if (auto m = out.body.find("messages"); m != out.body.end() && m->is_array() && !m->empty() && (*m)[0].is_object()) {
        auto data = (*m)[0].find("data");
        if (data != (*m)[0].end() && data->is_object()) {
            if (auto t = data->find("type"); t != data->end() && t->is_string())
                out.type = clipText(t->get_ref<const std::string&>(), 256);
            if (auto t = data->find("message"); t != data->end() && t->is_string())
                out.message = clipText(t->get_ref<const std::string&>(), 64 * 1024);
        }
    }
    return out;
}

}  // namespace collector
