#pragma once
// Releasing the tree objects that hang on items: each item's report, then
// its object, depth first, the data word cleared. The items themselves stay
// until the caller deletes them.
class QTreeWidget;
class QTreeWidgetItem;

// The item, its following siblings and all their descendants.
void ReleaseObjects(QTreeWidgetItem* first);
// Every descendant of the item (not the item itself).
void ReleaseChildObjects(QTreeWidgetItem* item);
// Every item of the tree; then deletes all items.
void ClearTreeObjects(QTreeWidget& tree);
