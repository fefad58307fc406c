#include "platform/devtoolsclient.h"
#include "platform/devtoolsendpoints.h"
#include "platform/targetlist.h"
#include "platform/toplevelwindows.h"
#include "res/texts.h"

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

class DevToolsTopLevelWindows final : public TopLevelWindows {
public:
    std::optional<WindowHandle> FindByCaption(const QString& caption) override {
        // Only a browser tab carries the suffix; anything else needs no browser asked.
        if (!caption.endsWith(text::kCaptionSuffix)) {
            return std::nullopt;
        }
        const QString title = caption.chopped(text::kCaptionSuffix.size());
        // An untitled tab's window shows its URL, never the bare suffix.
        if (title.isEmpty()) {
            return std::nullopt;
        }
        for (const QString& endpoint : WatchedDevToolsEndpoints()) {
            const auto answer = FetchTargetList(endpoint);
            const auto targets = answer ? DecodeTargetList(*answer) : std::nullopt;
            if (!targets) {
                continue;
            }
            for (const DevToolsTarget& target : *targets) {
                if (target.type == u"page"_s && target.title == title) {
                    return WindowHandle{endpoint, target.id};
                }
            }
        }
        return std::nullopt;
    }

    void RequestClose(const WindowHandle& window) override {
        // A tab that has gone meanwhile answers with an error; that is no failure here.
        CloseTarget(window.endpoint, window.id);
    }
};

} // namespace

std::unique_ptr<TopLevelWindows> MakeDevToolsTopLevelWindows() {
    return std::make_unique<DevToolsTopLevelWindows>();
}

} // namespace winwarden
