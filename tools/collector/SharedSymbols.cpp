#include "SharedSymbols.h"

#include <filesystem>

namespace collector {

namespace {

class StoreSymbolSource : public symbols::SymbolSource {
public:
    explicit StoreSymbolSource(Store& store) : store_(store) {}
    bool put(const std::string& ak, const std::string& av, const std::string& image, const std::string& text) override {
        return store_.putSymbolFile(ak, av, image, text);
    }
    std::optional<std::int64_t> revision(const std::string& ak, const std::string& av,
                                         const std::string& image) override {
        return store_.symbolFileRevision(ak, av, image);
    }
    std::optional<std::pair<std::int64_t, std::string>> read(const std::string& ak, const std::string& av,
                                                             const std::string& image) override {
        return store_.symbolFile(ak, av, image);
    }
    std::vector<std::vector<std::string>> keys() override { return store_.symbolFileKeys(); }

private:
    Store& store_;
};

}  // namespace

std::shared_ptr<symbols::SymbolSource> storeSymbolSource(Store& store) {
    return std::make_shared<StoreSymbolSource>(store);
}

int importSymbolDirectory(const std::string& dir, symbols::SymbolStore& into) {
    std::error_code ec;
    if (dir.empty() || !std::filesystem::is_directory(dir, ec)) return 0;
    symbols::SymbolStore old(dir);
    int copied = 0;
    for (const auto& f : old.list()) {
        if (into.get(f.appKey, f.version, f.image)) continue;
        auto text = old.text(f.appKey, f.version, f.image);
        std::string error;
        if (text && into.put(f.appKey, f.version, *text, error)) ++copied;
    }
    return copied;
}

}  // namespace collector
