#include "sources/devtools/devtoolssource.h"

#include "platform/browserprocesses.h"
#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "sources/devtools/targetlist.h"

#include <QHash>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

class DevToolsSource final : public BrowserSource {
public:
    DevToolsSource(std::function<QStringList()> endpoints, TargetListFetch fetch, TargetClose close,
                   std::function<bool()> silentIsAbsent = {},
                   std::function<QString(const QString&)> familyOf = {})
        : m_endpoints(std::move(endpoints)), m_fetch(std::move(fetch)), m_close(std::move(close)),
          m_silentIsAbsent(std::move(silentIsAbsent)), m_familyOf(std::move(familyOf)) {}

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
                m_families.remove(endpoint); // another browser may take the port next
                continue;
            }
            ++pass.browsersRead;
            const QString family = Family(endpoint);
            pass.windows.reserve(pass.windows.size() + targets->size());
            for (DevToolsTarget& target : *targets) {
                const bool page = target.type == u"page"_s;
                pass.windows.push_back(BrowserWindow{
                    page ? BrowserWindow::Kind::HtmlDocument : BrowserWindow::Kind::NoHtmlDocument,
                    page ? std::move(target.title) : QString(),
                    page ? std::move(target.url) : QString(),
                    WindowHandle{-1, endpoint, std::move(target.id)}, family});
            }
        }
        return pass;
    }

    void RequestClose(const WindowHandle& window) override {
        // A tab that has gone meanwhile answers with an error; that is no failure here.
        m_close(window.browser, window.id);
    }

private:
    // Which browser answers at the endpoint, looked up once while it keeps answering.
    QString Family(const QString& endpoint) {
        if (!m_familyOf) {
            return {};
        }
        auto known = m_families.find(endpoint);
        if (known == m_families.end()) {
            known = m_families.insert(endpoint, m_familyOf(endpoint));
        }
        return *known;
    }

    std::function<QStringList()> m_endpoints;
    TargetListFetch m_fetch;
    TargetClose m_close;
    std::function<bool()> m_silentIsAbsent;
    std::function<QString(const QString&)> m_familyOf;
    QHash<QString, QString> m_families;
};

} // namespace

std::unique_ptr<BrowserSource> MakeDevToolsSource() {
    return std::make_unique<DevToolsSource>(
        &WatchedDevToolsEndpoints, &FetchTargetList,
        [](const QString& endpoint, const QString& id) { CloseTarget(endpoint, id); },
        [] { return qEnvironmentVariable("WINWARDEN_DEVTOOLS").trimmed().isEmpty(); },
        [](const QString& endpoint) {
            const quint16 port = endpoint.section(u':', -1).toUShort();
            return port != 0 ? BrowserFamilyListeningOn(port) : QString();
        });
}

std::unique_ptr<BrowserSource> MakeDevToolsSource(std::function<QStringList()> endpoints,
                                                  TargetListFetch fetch, TargetClose close) {
    return std::make_unique<DevToolsSource>(std::move(endpoints), std::move(fetch),
                                            std::move(close));
}

} // namespace winwarden
