// The collector's web page: crash groups, single crashes, customized exceptions,
// registrations and feedback, rendered on the server from templates, and the same views as
// JSON under /api/. Every view is first built as a JSON model; the HTML page renders that
// model, the API returns it.
#pragma once

#include "Store.h"

#include <optional>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace collector {

class Web {
public:
    // token: what a request must present when tokenRequired (the collector listens beyond
    // loopback). A required but empty token refuses every page.
    Web(Store& store, std::string token, bool tokenRequired);

    void install(httplib::Server& server);
    void setTokenRequired(bool required) { tokenRequired_ = required; }
    bool tokenRequired() const { return tokenRequired_; }

    // Models. now: seconds since 1970 (the day chart ends on that day).
    Json overview(const std::string& ak, const std::string& text, double now);
    std::optional<Json> group(const std::string& groupId);
    std::optional<Json> crash(std::int64_t id);
    Json exceptions(const std::string& ak, const std::string& text);
    Json registrations(const std::string& ak);
    Json feedbackList(int page);
    std::optional<Json> feedback(std::int64_t id);

    // The HTML page of a model ("overview", "group", "crash", "exceptions", "registrations",
    // "feedbackList", "feedback", "message").
    static std::string render(const std::string& page, const Json& model);

    // Whether a request with these credentials may read the page ("" when absent).
    bool authorized(const std::string& bearer, const std::string& cookie, const std::string& query) const;
    // The same, with the credentials a request carries (bearer, cookie or ?token=).
    bool requestAuthorized(const httplib::Request& req) const;

    // A stored upload as its bytes say: JPEG or PNG as an image, anything else as a download.
    static void sendFile(httplib::Response& res, const std::string& data);

private:
    Store& store_;
    std::string token_;
    bool tokenRequired_;
};

// "YYYY-MM-DD HH:MM:SS" in UTC; "" for 0.
std::string formatTime(double seconds);

}  // namespace collector
