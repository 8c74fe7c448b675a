// Where -o sends its bytes, for every subcommand that writes a file.
//
// A regular file, or a name that does not exist yet, is written beside itself
// and renamed into place once complete, so that a failed write leaves no torn
// file where an older one was. A symbolic link keeps being a link: the file its
// chain ends in is what gets replaced (or created). Anything else (a FIFO, a
// terminal, /dev/null, /dev/stdout and its kin) is written through in place;
// renaming a file over it would replace the node itself, and a reader waiting
// on it would never see a byte. An empty name and "-" are standard output.
#ifndef VUXOCLI_OUTPUT_FILE_H
#define VUXOCLI_OUTPUT_FILE_H

#include <cstdio>
#include <string>
#include <utility>

namespace vuxocli {

class OutputFile {
  public:
    explicit OutputFile(std::string path) : path_(std::move(path)) {}
    // Removes the temporary file of an output that was not committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Null with errno set when the output cannot be opened.
    std::FILE* open();
    // Flushes and closes, then renames into place where the output is replaced.
    // False with errno set when anything failed; nothing is renamed then.
    bool commit();

  private:
    std::string path_;
    std::string target_; // what the temporary file replaces, when it is one
    std::string temp_;
    std::FILE* file_ = nullptr;
};

// path as an error message names it.
std::string output_name(const std::string& path);

// The whole text to path through an OutputFile. False with errno set.
bool write_output(const std::string& path, const std::string& text);

} // namespace vuxocli

#endif
