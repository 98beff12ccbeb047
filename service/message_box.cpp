#include "service/message_box.h"

#include "service/ui_call_waiter.h"

#include <iostream>
#include <mutex>

namespace {

std::mutex handlerLock;
MessageHandler currentHandler;

const char* IconWord(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation: return "warning";
        case MessageIcon::Error: return "error";
        case MessageIcon::Information: return "information";
        case MessageIcon::Question: return "question";
    }
    return "message";
}

}  // namespace

int ShowMessage(const QString& text, MessageIcon icon, int buttons) {
    MessageHandler handler;
    {
        std::lock_guard lock(handlerLock);
        handler = currentHandler;
    }
    // A closing viewer asks nothing more: its window is gone.
    if (handler && !ServiceCallsAbandoned()) return handler(text, icon, buttons);
    std::cerr << "qvviewer: " << IconWord(icon) << ": " << text.toStdString() << '\n';
    return 0;
}

void SetMessageHandler(MessageHandler handler) {
    std::lock_guard lock(handlerLock);
    currentHandler = std::move(handler);
}
