#pragma once

#include "platform/Result.h"
#include "platform/win32/UniqueHandle.h"

#include <cstdint>
#include <string>

// Where this process's user keeps a lock: Quietwire in the local application data of the user the
// process's token names (not what the environment says), a folder of the user's profile whose access
// list admits the user, SYSTEM and Administrators alone, so that no other user can plant the lock first.
// A named object would not do: in a session's namespace the first creator may be any user of it.

// The file name there, opened for reading and writing and shared with the user's other processes; or why
// there is none.
ResultWith<UniqueHandle> openOwnFile(const std::string& name);

// Byte-range locks are mandatory on Windows: the lock sits at this offset, far past the few bytes the
// holder writes at the start, which the other processes may then still read.
inline constexpr DWORD LockOffsetHigh = 1;

// Takes the lock on the open file without waiting: done when taken; else why not, with the system's code,
// ERROR_LOCK_VIOLATION when another handle holds it (rather than the lock failing).
Result tryLockFile(HANDLE file);
void unlockFile(HANDLE file);

// The decimal number at the start of the file; 0 when there is none.
int64_t readNumber(HANDLE file);
// Makes the number the file's whole content.
void writeNumber(HANDLE file, int64_t number);
