#pragma once
// The message boxes that the application installs for ShowMessage, which the
// layers below it call without knowing of widgets.
#include "service/message_box.h"

#include <QMessageBox>

// The QMessageBox icon for a message icon.
QMessageBox::Icon MessageBoxIcon(MessageIcon icon);

// ShowMessage opens a modal QMessageBox titled "QVViewer" over the active
// window. buttons holds QMessageBox::StandardButton bits (0: OK alone); the
// answer is the button pressed.
void InstallMessageBoxHandler();
