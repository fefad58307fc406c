#include "survey/targetlistshellwindows.h"

#include "platform/devtoolsclient.h"
#include "platform/devtoolsendpoints.h"
#include "platform/targetlist.h"

#include <climits>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

class TargetListShellWindows final : public ShellWindows {
public:
    explicit TargetListShellWindows(TargetListSource source) : m_source(std::move(source)) {}

    bool Create() override {
        m_targets.clear();
        bool read = false;
        for (const QByteArray& answer : m_source()) {
            auto targets = DecodeTargetList(answer);
            if (!targets) {
                continue;
            }
            read = true;
            m_targets.insert(m_targets.end(), std::make_move_iterator(targets->begin()),
                             std::make_move_iterator(targets->end()));
        }
        return read;
    }

    int Count() override {
        return m_targets.size() > static_cast<size_t>(INT_MAX) ? INT_MAX
                                                               : static_cast<int>(m_targets.size());
    }

    Item ItemAt(int position) override {
        if (position < 0 || static_cast<size_t>(position) >= m_targets.size()) {
            return {};
        }
        const DevToolsTarget& target = m_targets[static_cast<size_t>(position)];
        if (target.type != u"page"_s) {
            return {Item::Kind::NoHtmlDocument, {}, {}};
        }
        return {Item::Kind::HtmlDocument, target.title, target.url};
    }

private:
    TargetListSource m_source;
    std::vector<DevToolsTarget> m_targets;
};

std::vector<QByteArray> FetchWatchedTargetLists() {
    std::vector<QByteArray> answers;
    for (const QString& endpoint : WatchedDevToolsEndpoints()) {
        if (auto answer = FetchTargetList(endpoint)) {
            answers.push_back(std::move(*answer));
        }
    }
    return answers;
}

} // namespace

std::unique_ptr<ShellWindows> MakeTargetListShellWindows(TargetListSource source) {
    return std::make_unique<TargetListShellWindows>(std::move(source));
}

std::unique_ptr<ShellWindows> MakeDevToolsShellWindows() {
    return MakeTargetListShellWindows(&FetchWatchedTargetLists);
}

} // namespace winwarden
