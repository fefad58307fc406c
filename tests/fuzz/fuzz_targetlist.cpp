// Any bytes a browser endpoint may answer, through the target-list decoder and a snapshot pass.
#include "sources/devtools/targetlist.h"
#include "survey/browsersnapshot.h"
#include "survey/targetlistshellwindows.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace winwarden;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray answer(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QString text = QString::fromUtf8(answer);
    if (UnescapeTargetTitle(text).size() > text.size()) {
        __builtin_trap(); // unescaping never lengthens a title
    }

    const auto targets = DecodeTargetList(answer);
    static BrowserSnapshot snapshot;
    const std::unique_ptr<ShellWindows> windows =
        MakeTargetListShellWindows([&] { return std::vector<QByteArray>{answer}; });
    TakeBrowserSnapshot(*windows, snapshot);
    const int expected =
        targets ? std::min(static_cast<int>(targets->size()), BrowserSnapshot::kCapacity) : 0;
    if (snapshot.count != expected) {
        __builtin_trap();
    }
    return 0;
}
