#include "platform/posix/descriptor.h"

#include <errno.h>
#include <unistd.h>

#include <utility>

namespace platform::posix {

Descriptor::~Descriptor() {
    Close();
}

Descriptor::Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int Descriptor::Close() {
    if (fd_ < 0) {
        return 0;
    }
    return close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
}

}  // namespace platform::posix
