#include "survey/browsersource.h"
#include "survey/pagetitle.h"

namespace winwarden {

bool IsWebPage(const BrowserWindow& window) {
    return window.kind == BrowserWindow::Kind::HtmlDocument && !window.title.isEmpty() &&
           !IsBrowserPage(window.url);
}

namespace {

class BrowserSourceUnion final : public BrowserSource {
public:
    explicit BrowserSourceUnion(std::vector<std::unique_ptr<BrowserSource>> sources)
        : m_sources(std::move(sources)) {}

    void SetChangeNotifier(std::function<void()> notify) override {
        for (const auto& source : m_sources) {
            source->SetChangeNotifier(notify);
        }
    }

    BrowserPass TakePass() override {
        BrowserPass pass;
        for (size_t i = 0; i < m_sources.size(); ++i) {
            BrowserPass part = m_sources[i]->TakePass();
            pass.browsersWatched += part.browsersWatched;
            pass.browsersRead += part.browsersRead;
            pass.notices.insert(pass.notices.end(), part.notices.begin(), part.notices.end());
            pass.windows.reserve(pass.windows.size() + part.windows.size());
            for (BrowserWindow& window : part.windows) {
                window.handle.source = static_cast<int>(i);
                pass.windows.push_back(std::move(window));
            }
        }
        return pass;
    }

    void RequestClose(const WindowHandle& window) override {
        if (window.source >= 0 && static_cast<size_t>(window.source) < m_sources.size()) {
            m_sources[static_cast<size_t>(window.source)]->RequestClose(window);
        }
    }

    void SetSiteRules(const SiteRules& rules) override {
        for (const auto& source : m_sources) {
            source->SetSiteRules(rules);
        }
    }

    void Notify(qint64 uid, const QString& text) override {
        for (const auto& source : m_sources) {
            source->Notify(uid, text);
        }
    }

private:
    std::vector<std::unique_ptr<BrowserSource>> m_sources;
};

} // namespace

std::unique_ptr<BrowserSource>
MakeBrowserSourceUnion(std::vector<std::unique_ptr<BrowserSource>> sources) {
    return std::make_unique<BrowserSourceUnion>(std::move(sources));
}

} // namespace winwarden
