#include "sources/devtools/devtoolssource.h"

#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "sources/devtools/targetlist.h"

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

class DevToolsSource final : public BrowserSource {
public:
    DevToolsSource(std::function<QStringList()> endpoints, TargetListFetch fetch, TargetClose close,
                   std::function<bool()> silentIsAbsent = {})
        : m_endpoints(std::move(endpoints)), m_fetch(std::move(fetch)), m_close(std::move(close)),
          m_silentIsAbsent(std::move(silentIsAbsent)) {}

    BrowserPass TakePass() override {
        BrowserPass pass;
        const bool silentIsAbsent = m_silentIsAbsent && m_silentIsAbsent();
        for (const QString& endpoint : m_endpoints()) {
            const std::optional<QByteArray> answer = m_fetch(endpoint);
            std::optional<std::vector<DevToolsTarget>> targets =
                answer ? DecodeTargetList(*answer) : std::nullopt;
            // The endpoint nobody named is only looked at in passing: silent, it is no browser
            // that stopped answering.
            if (targets || !silentIsAbsent) {
                ++pass.browsersWatched;
            }
            if (!targets) {
                continue;
            }
            ++pass.browsersRead;
            pass.windows.reserve(pass.windows.size() + targets->size());
            for (DevToolsTarget& target : *targets) {
                const bool page = target.type == u"page"_s;
                pass.windows.push_back(BrowserWindow{
                    page ? BrowserWindow::Kind::HtmlDocument : BrowserWindow::Kind::NoHtmlDocument,
                    page ? std::move(target.title) : QString(),
                    page ? std::move(target.url) : QString(),
                    WindowHandle{-1, endpoint, std::move(target.id)}});
            }
        }
        return pass;
    }

    void RequestClose(const WindowHandle& window) override {
        // A tab that has gone meanwhile answers with an error; that is no failure here.
        m_close(window.browser, window.id);
    }

private:
    std::function<QStringList()> m_endpoints;
    TargetListFetch m_fetch;
    TargetClose m_close;
    std::function<bool()> m_silentIsAbsent;
};

} // namespace

std::unique_ptr<BrowserSource> MakeDevToolsSource() {
    return std::make_unique<DevToolsSource>(
        &WatchedDevToolsEndpoints, &FetchTargetList,
        [](const QString& endpoint, const QString& id) { CloseTarget(endpoint, id); },
        [] { return qEnvironmentVariable("WINWARDEN_DEVTOOLS").trimmed().isEmpty(); });
}

std::unique_ptr<BrowserSource> MakeDevToolsSource(std::function<QStringList()> endpoints,
                                                  TargetListFetch fetch, TargetClose close) {
    return std::make_unique<DevToolsSource>(std::move(endpoints), std::move(fetch),
                                            std::move(close));
}

} // namespace winwarden
