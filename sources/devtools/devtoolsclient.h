#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace winwarden {

// Calls to a browser's DevTools HTTP endpoint ("host:port"; any other than a loopback one is
// refused without a connection). Each call gives up after 1 s, follows no redirect, bypasses
// every proxy and abandons an answer larger than kMaxAnswerBytes. Safe from any thread.

// Far above what a browser answers even when a page stuffs megabytes into the addresses of its
// frames: a list that big is still read, and only an endpoint gone mad is cut off.
inline constexpr qsizetype kMaxAnswerBytes = 256 * 1024 * 1024;

// The raw /json/list answer, or nothing when the endpoint does not answer 200 in time.
std::optional<QByteArray> FetchTargetList(const QString& endpoint);

// Asks the browser to close the target `id` (/json/close/<id>); returns once the browser has
// taken the request, without waiting for the target to go. True when it answered 200.
bool CloseTarget(const QString& endpoint, const QString& id);

} // namespace winwarden
