// The node an output name stands for, by the OS's own rules (links, devices,
// descriptors): one file per OS.
#ifndef VUXOCLI_OUTPUT_NODE_H
#define VUXOCLI_OUTPUT_NODE_H

#include <cstdio>
#include <optional>
#include <string>

namespace vuxocli {

struct OutputNode {
    std::string path;
    bool replace = false; // atomically; else written through
};

// Follows path's chain of links to where the bytes belong. Empty with errno
// set when a step cannot be read.
std::optional<OutputNode> resolve_output(const std::string& path);

// An existing node that is no regular file, opened to be written where it
// stands. Null with errno set.
std::FILE* open_in_place(const std::string& path);

} // namespace vuxocli

#endif
