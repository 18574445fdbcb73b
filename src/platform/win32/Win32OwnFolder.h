#pragma once

#include "platform/win32/UniqueHandle.h"

#include <cstdint>
#include <string>

// Where this process's user keeps a lock: Quietwire in the local application data of the user the
// process's token names (not what the environment says), a folder of the user's profile whose access
// list admits the user, SYSTEM and Administrators alone, so that no other user can plant the lock first.
// A named object would not do: in a session's namespace the first creator may be any user of it.

// The file name there, opened for reading and writing and shared with the user's other processes;
// invalid, with why in problem, when there is none.
UniqueHandle openOwnFile(const std::string& name, std::string& problem);

// Byte-range locks are mandatory on Windows: the lock sits at this offset, far past the few bytes the
// holder writes at the start, which the other processes may then still read.
inline constexpr DWORD LockOffsetHigh = 1;

// Takes the lock on the open file without waiting: true when taken; otherwise held tells whether another
// handle holds it (rather than the lock failing).
bool tryLockFile(HANDLE file, bool& held);
void unlockFile(HANDLE file);

// The decimal number at the start of the file; 0 when there is none.
int64_t readNumber(HANDLE file);
// Makes the number the file's whole content.
void writeNumber(HANDLE file, int64_t number);
