#pragma once
// The platform layer, with src/buffers: everything the tool asks of the
// system besides memory is here, so that no other unit depends on it. That
// is the signals that a failing write would raise, binary standard streams,
// the terminal check for the progress line, and whole-file access for the
// readers and writers: every input is read up to its end or its first NUL
// byte, every output written whole, at once or piece by piece, and every
// failure is raised as std::runtime_error, so no caller can mistake a short
// transfer for success. The POSIX build works on file descriptors; the
// portable build (EDGESEG_PORTABLE) uses only the standard library and
// keeps every result it can; the Windows build works on file handles and
// shares no file while it has it open.

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "buffers/buffers.h"

namespace edgeseg {

// The bytes of text before its first NUL byte (all of them when it holds
// none): nothing from a NUL on can belong to a text image, so every reader
// of an input stops there.
std::span<const char> BeforeFirstNul(std::span<const char> text);

// The bytes of a file as they were read, up to its first NUL byte.
struct FileBytes {
  Buffer<char> data;
  std::size_t size = 0;
};

// Sets the process up for its output, once, first thing in main. A write
// that fails must report its failure instead of ending the process by a
// signal: to a pipe whose reader has gone (SIGPIPE), or past the file-size
// limit (SIGXFSZ); the failure then reaches the caller, and the run still
// ends with its own message and status. Standard output and standard error
// carry bytes as they are: on Windows they leave text mode, so that a line
// feed stays one byte. On POSIX systems the signals that end a run get the
// cleanup described at SetSignalEraseText. On Windows a console control
// handler removes the temporary file being written on Ctrl-C, Ctrl-Break or
// a closed console window, and ends the run as Ctrl-C does. The portable
// build has nothing to set. Only the command calls it: the handlers are the
// process's.
void PrepareForOutput();

// True when standard error is a terminal that a person may be watching;
// always false in the portable and the Windows builds.
bool StandardErrorIsTerminal();

// True when the name names something that exists and is not a directory
// (a device or a pipe passes, and is then read as its bytes arrive).
bool IsExistingFile(const std::string& name);

// Reads the file until its data ends or its first NUL byte arrives, in
// pieces of bounded size, whatever it is: a regular file, a pipe, a device.
// Nothing after that NUL can belong to a text image, so none of it is kept,
// and an input that begins with one (/dev/zero, a sparse hole) is empty at
// once. A regular file's reported length only sizes the buffer: a file
// that holds that many bytes and no NUL takes one buffer of its length, and
// one that holds more or less is read as it is. A named pipe waits for a
// writer, and any input waits for its bytes, as every reader does; one that
// never ends and holds no NUL is read until memory runs out. Nothing is
// mapped: the bytes are one snapshot, however the file changes afterwards.
// Throws std::runtime_error if the file cannot be opened or read, and
// std::bad_alloc if its bytes cannot be held.
FileBytes ReadFileUpToNul(const std::string& name);

// Writes the pieces one after the other as the file of that name. Throws if
// the file cannot be created, if any byte cannot be written, or if closing
// reports an error.
//
// Outputs appear whole or not at all: the bytes go to a new temporary file
// beside the final name that takes that name once complete and closed, so
// that whoever opens the name finds the previous file or the new one, never
// a part. On any failure the name keeps what it held. In the POSIX build the
// temporary file belongs to this call alone: it has no name until it is
// complete (O_TMPFILE), or a random one made anew with mode 0600 where the
// folder cannot make unnamed files, and nobody can open it before it is
// complete. A new output then gets what creating it would have given (0666
// less the umask, or the folder's default ACL); a replaced one keeps its
// group, permission bits, ACL and extended attributes (not set-id bits or
// file capabilities). That is done when the name is absent or names a plain
// file with one link, owned by this user and writable by them, whose access
// the new file can be given. Every other output is written in place, as the
// name's opener finds it: through a symbolic link, into a file of several
// links or of another owner, a device or a named pipe, or where the folder
// takes no new file; a failed write then leaves what it wrote. A named pipe
// never blocks the open: without a reader it fails. Where the name cannot be
// renamed over (a bind-mounted file, an append-only folder) the complete
// file is copied in place, so only that copy can be cut. In a sticky folder
// that everyone may write (/tmp), a symbolic link is followed only when it
// belongs to this user or to the folder's owner, and nothing else there is
// followed.
//
// The portable and the Windows builds write a regular file (on Windows, a
// file on a disk) or a name not yet taken only that way, under a random
// temporary name, and never in place: where no temporary file can be made
// the output fails and the old file stays. The portable build cannot see
// owners and keeps only the permission bits; it replaces the file a symbolic
// link leads to, from beside that file, and writes in place only into a file
// of several links. The Windows build puts the new file in place with
// ReplaceFileW, which keeps the old one's ACL and attributes; it refuses a
// read-only output and one that another program holds open, and writes a
// device (NUL, CON) or a pipe through its name.
void WriteWholeFile(const std::string& name,
                    std::initializer_list<std::span<const std::byte>> pieces);

// Gives the next piece of a file as it is made; an empty piece ends the file.
using NextPiece = std::function<std::span<const std::byte>()>;

// The same for a file made piece by piece, so that a long text needs no
// buffer of its whole length: each piece is written before the next is
// asked for. What next throws ends the writing as a failed write does.
void WriteFileInPieces(const std::string& name, const NextPiece& next);

// The temporary name under which an output is written before it is renamed
// to name: in the same folder, a dot, as much of the final name as the name
// limit of 255 bytes leaves room for, and suffix (which makes it the run's
// own). Nothing that lists names by their ending (*.bmp, *.txt) or hides
// dot-files then sees it. Empty when name has no last component (it ends in
// a slash, or is empty).
std::string TemporaryName(const std::string& name, const std::string& suffix);

// Bytes that a run ended by a signal writes to standard error on its way
// out: those that erase the progress line while one is drawn, none (empty)
// otherwise. They must stay valid until replaced (a constant). Only the
// POSIX build ends on signals with cleanup, and only once PrepareForOutput
// has installed its handlers: every signal whose default action ends the
// process, but for SIGKILL, SIGSTOP, the crash signals, SIGPIPE and SIGXFSZ,
// removes the temporary file being written, writes these bytes and ends the
// run by the same signal (or, where the process cannot be ended so, as the
// first process of a pid namespace, with exit status 128 + the signal). A
// signal that was ignored when the run began stays ignored. The Windows
// build draws no progress line and cleans up on its console's events
// instead (see PrepareForOutput).
void SetSignalEraseText(std::string_view bytes);

// For tests: makes every temporary file of the POSIX build a named one, as
// on a file system without unnamed files. The other builds name every
// temporary file already.
void UseNamedTemporaryFilesOnly(bool namedOnly);

}  // namespace edgeseg
