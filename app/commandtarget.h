#pragma once

namespace winwarden {

// Something a menu, accelerator or toolbar command can be offered to.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;

    // Runs the command and returns true if this target handles it; false lets the next
    // target in the routing order try.
    virtual bool OnCmdMsg(int commandId) = 0;
};

} // namespace winwarden
