// Reading a tool's input files and writing its output so that a user's file
// is never lost and a failure is never reported as success.
//
// An output is written whole or not at all:
//   "-"                      standard output, flushed and checked;
//   an existing regular file replaced atomically (a new file renamed over
//                            it), keeping its permission bits and, where
//                            allowed, its owner; a read-only one is refused;
//   a symbolic link          followed, and the file it names replaced;
//   a FIFO, a device ...     opened and written in place;
//   a name that is not there created with the usual 0666 less umask;
//   a directory              refused.
// Any failed write leaves the target as it was and no temporary file behind.
#ifndef KLAVOR_TOOLS_COMMON_FILES_H
#define KLAVOR_TOOLS_COMMON_FILES_H

#include <optional>
#include <string>

namespace files {

// The whole content of a file. On failure `error` is "path: reason".
std::optional<std::string> ReadInput(const std::string& path, std::string* error);

// True when both names lead to the same existing file, links followed.
bool SameFile(const std::string& a, const std::string& b);

// Writes `data` (text or binary) as the whole of `path`, as described
// above. On failure `error` is "path: reason" ("standard output: reason"
// for "-").
bool WriteOutput(const std::string& path, const std::string& data, std::string* error);

// Writes `data` to standard output and flushes it.
bool WriteStdout(const std::string& data, std::string* error);

// Standard output written as it comes, for an output as long as a run:
// the first failure is kept and nothing after it is written; Finish()
// flushes and says whether all of it went out.
class StdoutStream {
public:
    void Write(const std::string& data);
    bool Finish(std::string* error);

private:
    int error_ = 0;
};

}  // namespace files

#endif
