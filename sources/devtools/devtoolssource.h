#pragma once

#include "survey/browsersource.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace winwarden {

// The /json/list answer of one endpoint, or nothing when it does not answer.
using TargetListFetch = std::function<std::optional<QByteArray>(const QString& endpoint)>;
// Asks one endpoint to close one target.
using TargetClose = std::function<void(const QString& endpoint, const QString& id)>;

// The browsers named by WINWARDEN_DEVTOOLS, read through their DevTools endpoints: targets of
// type "page" are HTML documents, every other target a browser window without one. Where the
// variable is unset, the default endpoint counts as a watched browser only while it answers.
std::unique_ptr<BrowserSource> MakeDevToolsSource();

// The same over endpoints and calls of the caller's choosing (benchmarks and tests).
std::unique_ptr<BrowserSource> MakeDevToolsSource(std::function<QStringList()> endpoints,
                                                  TargetListFetch fetch, TargetClose close);

} // namespace winwarden
