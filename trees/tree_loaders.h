#pragma once
// The document's tree loaders: each asks the service for one result set,
// sorted by "Name Asc", and appends one item per row with its tree object,
// image and expand mark. A data-access error ends a loader quietly; some
// loaders then release the document's service interface (see each).
class CQVViewerDoc;
class QTreeWidget;
class QTreeWidgetItem;

// Top levels, called by the panes' LoadRoot. Nothing without a main frame.
void LoadUsersTop(CQVViewerDoc& doc, QTreeWidget& tree);         // keeps the interface
void LoadComputersTop(CQVViewerDoc& doc, QTreeWidget& tree);     // keeps the interface
void LoadApplicationsTop(CQVViewerDoc& doc, QTreeWidget& tree);  // releases it on error

// Children of the item whose object's LoadChildren runs; false without a
// main frame, without an object on the item, or on a data-access error.
bool LoadUserComputers(CQVViewerDoc& doc, QTreeWidgetItem* item);         // releases
bool LoadUserComputerPrograms(CQVViewerDoc& doc, QTreeWidgetItem* item);  // keeps
bool LoadComputerUsers(CQVViewerDoc& doc, QTreeWidgetItem* item);         // releases
bool LoadComputerUserPrograms(CQVViewerDoc& doc, QTreeWidgetItem* item);  // releases
bool LoadProgramUsers(CQVViewerDoc& doc, QTreeWidgetItem* item);          // releases

// The index in the document's small list of the item's image; -1: none.
int TreeImageIndex(const QTreeWidgetItem* item);
