#include "tests/support/window_serial_owner.h"

#include <memory>

namespace orvante::test {

void WindowSerialOwner::SendSerialMessages(std::vector<serial::SerialMessage> messages,
                                           std::function<bool()> current,
                                           const std::function<bool()>& abandon) {
    // The task owns its messages: it may run after the monitor stopped waiting.
    auto owned = std::make_shared<const std::vector<serial::SerialMessage>>(std::move(messages));
    window_.Thread().SendUnlessAbandoned(
        [handler = handler_, owned, current = std::move(current)] {
            if (!current()) return;
            for (const auto& message : *owned) handler(message);
        },
        abandon);
}

}  // namespace orvante::test
