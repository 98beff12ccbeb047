#pragma once
// A window that handles some of the frame's commands itself (the report
// view: Export Report, Find). The frame routes such commands to its central
// widget when it is one.
class ICommandTarget {
public:
    virtual ~ICommandTarget() = default;
    // False when the command is not this window's.
    virtual bool OnCommand(int commandId) = 0;
    virtual bool IsCommandEnabled(int commandId) const = 0;
};
