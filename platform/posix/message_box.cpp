#include "platform/message_box.h"

#include <string>

#include "platform/console.h"

namespace platform {

void ShowMessageBox(std::u16string_view caption, std::u16string_view text) {
    WriteErrorLine(std::u16string(caption) + u": " + std::u16string(text));
}

}  // namespace platform
