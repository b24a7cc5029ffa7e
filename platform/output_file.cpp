#include "platform/output_file.h"

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace platform {

OutputFile::OutputFile(const char* path) : path_(path != nullptr ? path : "") {}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::write(const void* bytes, size_t count) {
    if (finished_ || kind_ == Kind::None)
        return false;
    if (kind_ == Kind::InPlace)
        return inPlaceBytes_.append(bytes, count);
    return writeFully(fd_, bytes, count);
}

bool OutputFile::finish() {
    if (finished_ || kind_ == Kind::None)
        return false;
    // A hidden file is closed now: data still in flight can be lost at close, which is a
    // failed write too. An unnamed one keeps its descriptor, its only way to a name.
    if (kind_ == Kind::Hidden) {
        const bool ready = outputs::readyHidden(fd_);
        const bool closed = closeDescriptor(fd_);
        fd_ = -1;
        if (!ready || !closed) {
            discard();
            return false;
        }
    }
    finished_ = true;
    return true;
}

bool OutputFile::putInPlace() {
    if (!finished_)
        return false;
    bool placed = false;
    if (kind_ == Kind::Unnamed)
        placed = outputs::nameUnnamed(fd_, path_);
    else if (kind_ == Kind::Hidden)
        placed = placeHidden();
    else if (kind_ == Kind::InPlace)
        placed = writeInPlace();
    if (placed)
        outputs::noteNamed(path_);
    if (placed && fd_ >= 0 && !closeDescriptor(fd_))
        placed = false; // a write lost late; the name holds what reached the disk
    fd_ = -1;
    finished_ = false;
    kind_ = placed ? Kind::None : kind_;
    discard();
    return placed;
}

bool OutputFile::placeHidden() {
    bool placed;
    {
        const outputs::EntryLock lock(entry_);
        placed = outputs::renameOver(outputs::hiddenName(entry_), path_);
        if (!placed)
            outputs::removeName(outputs::hiddenName(entry_));
        outputs::setHiddenName(entry_, nullptr);
    }
    outputs::releaseEntry(entry_);
    entry_ = -1;
    return placed;
}

bool OutputFile::writeInPlace() {
    const int entry = outputs::claimEntry();
    if (entry < 0)
        return false;
    bool written;
    {
        // The whole file goes in before an interrupt may end the run, the room for it
        // first: a full disk leaves the earlier file whole.
        const outputs::EntryLock lock(entry);
        written = outputs::reserveRoom(fd_, inPlaceBytes_.size()) && seekTo(fd_, 0) == 0 &&
                  writeFully(fd_, inPlaceBytes_.data(), inPlaceBytes_.size()) &&
                  outputs::endFileAt(fd_, inPlaceBytes_.size());
    }
    outputs::releaseEntry(entry);
    return written;
}

void OutputFile::discard() {
    if (entry_ >= 0) {
        {
            const outputs::EntryLock lock(entry_);
            outputs::removeName(outputs::hiddenName(entry_));
            outputs::setHiddenName(entry_, nullptr);
        }
        outputs::releaseEntry(entry_);
        entry_ = -1;
    }
    // An unnamed file vanishes with its descriptor; an earlier file written in place is
    // left as it is.
    if (fd_ >= 0)
        closeDescriptor(fd_);
    fd_ = -1;
    kind_ = Kind::None;
    finished_ = false;
}

} // namespace platform
