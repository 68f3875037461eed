#pragma once
// Whole-file access for the readers and writers: every file is read or
// written in one piece, and every failure is raised as std::runtime_error,
// so no caller can mistake a short transfer for success.

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>

#include "buffers/buffers.h"

// The bytes of a file as they were read.
struct FileBytes {
  Buffer<char> data;
  std::size_t size = 0;
};

// Makes a write that fails report its failure instead of ending the process
// by a signal: to a pipe whose reader has gone (SIGPIPE), or past the
// file-size limit (SIGXFSZ). The failure then reaches the caller, and the
// run still ends with its own message and status.
void IgnoreSignalsOfFailingWrites();

// True when the name names something that exists and is not a directory
// (a device or a pipe passes; the readers then see what fstat reports).
bool IsExistingFile(const std::string& name);

// Reads exactly the length that fstat reports, so a device or a pipe reads
// as empty and never blocks. Files of 2 GiB or more are refused before
// anything is read: their length does not fit the format's 32-bit count.
// Throws if the file cannot be opened or read in full.
FileBytes ReadWholeFile(const std::string& name);

// Creates the file (replacing any file of that name) and writes the pieces
// one after the other. Throws if the file cannot be created, if any byte
// cannot be written, or if closing reports an error; the file then keeps
// what was written.
void WriteWholeFile(const std::string& name,
                    std::initializer_list<std::span<const std::byte>> pieces);
