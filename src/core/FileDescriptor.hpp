#pragma once

namespace quillbridge {

// Owns an open file descriptor (or -1, nothing) and closes it when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    ~FileDescriptor();

    int get() const { return descriptor_; }
    // Gives up ownership: the caller closes the descriptor.
    int release();
    // Closes now and reports the error of close itself (an errno value, 0 for none), which may be the first
    // sign of a failed write.
    int close();

private:
    int descriptor_;
};

}  // namespace quillbridge
