#pragma once

#include "survey/shellwindows.h"

#include <QByteArray>
#include <functional>
#include <vector>

namespace winwarden {

// Where a collection comes from: the /json/list answers of the browsers that answered this
// time, in the order the browsers are watched.
using TargetListSource = std::function<std::vector<QByteArray>()>;

// A shell window collection read from target lists: the targets of every answer that decodes,
// one after the other. Create fails only when no answer decodes.
std::unique_ptr<ShellWindows> MakeTargetListShellWindows(TargetListSource source);

} // namespace winwarden
