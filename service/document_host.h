#pragma once
// What the document needs of the main frame: the three trees, their
// waiting fill of the top level, the panes' current objects and a queued
// command. The frame implements it; tests use a fake.
class QTreeWidget;

class IDocumentHost {
public:
    virtual ~IDocumentHost() = default;

    enum TreeId { Users = 0, Computers = 1, Applications = 2 };

    // Null when the pane's tree does not exist (yet).
    virtual QTreeWidget* Tree(TreeId tree) = 0;
    // The waiting tree control's RefreshRoot: shows "Loading..." with the
    // hourglass and calls back the document's top-level loader.
    virtual void RefreshRoot(TreeId tree) = 0;
    // Sets the pane's current object to none without touching it (its
    // report and object have been destroyed already).
    virtual void ResetCurrentObject(TreeId tree) = 0;
    // Queued: runs once the current message is handled (32850 Options).
    virtual void PostCommand(int commandId) = 0;
};
