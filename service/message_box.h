#pragma once
// The one way the viewer's non-widget code asks the operator something: the
// application installs a handler that shows a message box; tests install one
// that records the texts. Without a handler, and once the viewer is closing
// (ui_call_waiter.h), the text goes to standard error.
#include <QString>

#include <functional>

enum class MessageIcon { Exclamation, Error, Information, Question };

// Returns the handler's answer (the button pressed); 0 from the default one.
int ShowMessage(const QString& text, MessageIcon icon, int buttons = 0);

using MessageHandler = std::function<int(const QString&, MessageIcon, int)>;
// An empty handler restores the default.
void SetMessageHandler(MessageHandler handler);
