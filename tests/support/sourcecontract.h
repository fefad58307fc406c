#pragma once

#include "survey/browsersource.h"

namespace winwarden::test {

// What the contract needs of one kind of source.
class SourceRig {
public:
    virtual ~SourceRig() = default;
    virtual BrowserSource& Source() = 0;
    // Opens a page titled `title` (empty: untitled); the URL the source will report for it.
    virtual QString OpenPage(const QString& title) = 0;
    // From now on no browser of the source answers.
    virtual void SilenceBrowsers() = 0;
};

// What every browser source must do: pages appear with their titles and URLs, the order holds
// between passes, a close request makes a window go, a second one is harmless, and a pass with
// no browser answering reads nothing.
void CheckBrowserSourceContract(SourceRig& rig);

} // namespace winwarden::test
