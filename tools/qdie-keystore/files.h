// The files the tool reads (certificates, PKCS#12) and writes (certificates).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "softcapi/wintypes.h"

namespace qdie_tool {

// A file that cannot be read or written; the tool exits with 1.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole of a regular file of at most a few megabytes.
std::vector<BYTE> readInputFile(const std::string& path);

// A file written whole or not at all: the bytes go to a temporary file beside `path`, created
// on construction (so an unwritable destination is known before anything else is done), written
// and flushed to disk by write(), and given its name by commit(). Without commit() the
// temporary file is removed. The key store's own files are refused as a destination.
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const std::vector<BYTE>& bytes);
    void commit();

private:
    std::string path_;
    std::string temporaryPath_;
    int fd_ = -1;
};

}  // namespace qdie_tool
