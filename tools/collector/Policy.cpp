#include "Policy.h"

#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

namespace collector {

const char* endpointName(Endpoint e) {
    switch (e) {
    case Endpoint::Crash: return "crash";
    case Endpoint::Config: return "config";
    case Endpoint::Feedback: return "pre";
    case Endpoint::FileStore: return "fs";
    }
    return "";
}

namespace {

const std::set<std::string> kModes = {"ok",   "en1",      "code1",   "http500",   "slow",
                                      "garbage", "noanswer", "emptydata", "nocode"};

std::string validateAnswerLayer(const Json& layer, const std::string& where) {
    if (!layer.is_object()) return where + " must be an object";
    if (auto m = layer.find("mode"); m != layer.end() && (!m->is_string() || !kModes.count(m->get<std::string>())))
        return where + ".mode: unknown mode " + m->dump();
    for (const char* k : {"slowMs", "holdMs", "code"})
        if (auto v = layer.find(k); v != layer.end() && !v->is_number_integer())
            return where + "." + k + " must be an integer";
    if (auto v = layer.find("msg"); v != layer.end() && !v->is_string()) return where + ".msg must be a string";
    return {};
}

void applyAnswerLayer(const Json& layer, Answer& a) {
    if (!layer.is_object()) return;
    if (auto v = layer.find("mode"); v != layer.end() && v->is_string()) a.mode = v->get<std::string>();
    if (auto v = layer.find("slowMs"); v != layer.end() && v->is_number_integer()) a.slowMs = v->get<int>();
    if (auto v = layer.find("holdMs"); v != layer.end() && v->is_number_integer()) a.holdMs = v->get<int>();
    if (auto v = layer.find("code"); v != layer.end() && v->is_number_integer()) a.code = v->get<int>();
    if (auto v = layer.find("msg"); v != layer.end() && v->is_string()) a.msg = v->get<std::string>();
}

}  // namespace

std::string validatePolicy(const Json& policy) {
    if (auto e = validateAnswerLayer(policy, "policy"); !e.empty()) return e;
    if (auto eps = policy.find("endpoints"); eps != policy.end()) {
        if (!eps->is_object()) return "policy.endpoints must be an object";
        for (auto it = eps->begin(); it != eps->end(); ++it) {
            if (it.key() != "crash" && it.key() != "config" && it.key() != "pre" && it.key() != "fs")
                return "policy.endpoints: unknown endpoint " + it.key();
            if (auto e = validateAnswerLayer(it.value(), "policy.endpoints." + it.key()); !e.empty()) return e;
        }
    }
    if (auto cfg = policy.find("config"); cfg != policy.end()) {
        if (!cfg->is_object()) return "policy.config must be an object";
        for (auto it = cfg->begin(); it != cfg->end(); ++it)
            if (!it.value().is_number() && !it.value().is_null())
                return "policy.config." + it.key() + " must be a number";
    }
    for (const char* k : {"apiKey", "signingKey"})
        if (auto v = policy.find(k); v != policy.end() && !v->is_string()) return std::string(k) + " must be a string";
    return {};
}

void Policy::setCommandLine(const Json& layer) {
    std::lock_guard lock(mutex_);
    cli_ = layer;
}

void Policy::setFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    file_ = path;
}

void Policy::share(Store& store) {
    std::lock_guard lock(mutex_);
    shared_ = &store;
}

void Policy::setLive(const Json& layer) {
    std::lock_guard lock(mutex_);
    if (shared_)
        shared_->setSetting("policy", layer.dump());
    else
        live_ = layer;
}

Json Policy::liveLayer() {
    if (!shared_) return live_;
    const auto text = shared_->setting("policy");
    Json parsed = text ? Json::parse(*text, nullptr, false) : Json::object();
    return parsed.is_discarded() ? Json::object() : parsed;
}

Json Policy::fileLayer() {
    if (file_.empty()) return Json::object();
    std::ifstream in(file_);
    if (!in) return lastGoodFile_;
    std::stringstream ss;
    ss << in.rdbuf();
    Json parsed = Json::parse(ss.str(), nullptr, false);
    std::string problem = parsed.is_discarded() ? "not JSON" : validatePolicy(parsed);
    if (!problem.empty()) {
        // A file caught half-written keeps the last good version in force.
        std::cerr << "quillon-collector: ignoring policy file " << file_ << ": " << problem << "\n";
        return lastGoodFile_;
    }
    lastGoodFile_ = parsed;
    return parsed;
}

Json Policy::effective() {
    std::lock_guard lock(mutex_);
    Json out = {{"mode", "ok"},
                {"slowMs", 1000},
                {"holdMs", 60000},
                {"endpoints", Json::object()},
                {"config", {{"up", 1}, {"rc", 2}, {"to", 3}, {"cv", 0}}},
                {"apiKey", "7d2f19ebquake35porchd461a08c27f5"},
                {"signingKey", "K3TRVQW9PLMZ2XH7"}};
    for (const Json& layer : {cli_, fileLayer(), liveLayer()}) {
        if (!layer.is_object()) continue;
        // Object members merge one level deep (endpoints.X, config); scalars replace.
        for (auto it = layer.begin(); it != layer.end(); ++it) {
            if (it.value().is_object() && out[it.key()].is_object()) {
                for (auto in = it.value().begin(); in != it.value().end(); ++in) {
                    Json& dst = out[it.key()][in.key()];
                    if (in.value().is_object() && dst.is_object())
                        dst.update(in.value());
                    else
                        dst = in.value();
                }
            } else {
                out[it.key()] = it.value();
            }
        }
    }
    return out;
}

Answer Policy::answerFor(Endpoint e) {
    Json p = effective();
    Answer a;
    applyAnswerLayer(p, a);
    if (auto eps = p.find("endpoints"); eps != p.end() && eps->is_object())
        if (auto ep = eps->find(endpointName(e)); ep != eps->end()) applyAnswerLayer(*ep, a);
    return a;
}

Json Policy::configValues() {
    Json cfg = effective()["config"];
    Json out = Json::object();
    for (const char* k : {"up", "rc", "to", "cv", "crt"})
        if (auto v = cfg.find(k); v != cfg.end() && v->is_number()) out[k] = *v;
    return out;
}

std::string Policy::apiKey() { return effective()["apiKey"].get<std::string>(); }
std::string Policy::signingKey() { return effective()["signingKey"].get<std::string>(); }

}  // namespace collector
