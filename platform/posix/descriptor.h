#pragma once

// An owned file descriptor: of a file, a directory or a socket.
namespace platform::posix {

// Closed when the object goes; -1 stands for none.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }

    // Closes now, answering 0 or the errno of close (a delayed write error shows up here);
    // afterwards none is held.
    int Close();

  private:
    int fd_ = -1;
};

}  // namespace platform::posix
