// Templates of the collector's web page, from the files in templates/ (compiled in by
// EmbedTemplates.cmake). {{name}} is HTML-escaped; the only unescaped value is the layout's
// {{{content}}}, which is the page's own rendered template.
#include <map>
#include <stdexcept>
#include <string>

namespace collector {

// Generated: every file of templates/ by its name.
const std::map<std::string, std::string>& templateFiles();

namespace {

const std::string& file(const std::string& name) {
    const auto& all = templateFiles();
    auto it = all.find(name);
    if (it == all.end()) throw std::runtime_error("no template file " + name);
    return it->second;
}

// Parts shared by several pages, written once: "@NAME@" stands for the file name.html (or,
// for @STYLE@, style.css).
std::string expand(std::string t) {
    for (auto [marker, part] : {std::pair{"@APPKEYS@", "appkeys.html"}, std::pair{"@FEEDBACKROW@", "feedbackrow.html"},
                                std::pair{"@STYLE@", "style.css"}}) {
        for (auto pos = t.find(marker); pos != std::string::npos; pos = t.find(marker))
            t.replace(pos, std::string(marker).size(), file(part));
    }
    return t;
}

}  // namespace

const std::map<std::string, std::string>& webTemplates() {
    static const std::map<std::string, std::string> all = [] {
        std::map<std::string, std::string> pages;
        for (const char* name : {"layout", "message", "overview", "group", "crash", "exceptions", "registrations",
                                 "feedbackList", "feedback"})
            pages[name] = expand(file(std::string(name) + ".html"));
        return pages;
    }();
    return all;
}

}  // namespace collector
