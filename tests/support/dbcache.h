// The cache of test databases shared by every test process of a build: an empty
// database, the state after each setup script, generated practices. ctest runs every
// test in a process of its own, so what is made once lives in files, found by a key
// that hashes how it was made; a file lock keeps two processes from making the same
// entry at once. Entries are closed database files, handed out as copies.
#pragma once

#include <optional>
#include <string>

namespace pelvar::test::dbcache {

// The cache folder (made on first use): test-cache beside the test program, or the
// folder in environment PELVAR_TEST_CACHE; nothing when that says "off".
std::optional<std::string> Dir();

// A key of hex digits over the given parts (order matters).
std::string Key(std::initializer_list<std::string> parts);

// Holds the lock of one key until it goes away.
class KeyLock {
 public:
  explicit KeyLock(const std::string& key);
  ~KeyLock();
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;

 private:
  int fd_ = -1;
};

// The path of an entry's file; Has tells whether it is there.
std::string EntryPath(const std::string& key, const std::string& suffix = ".fdb");
bool Has(const std::string& key, const std::string& suffix = ".fdb");

// Copies a closed file into the cache under key (atomically: a reader never sees half).
void Store(const std::string& file, const std::string& key, const std::string& suffix = ".fdb");
// Marks a key whose result is not to be kept, so that others stop waiting for it.
void MarkUncacheable(const std::string& key);
bool IsUncacheable(const std::string& key);

// Copies an entry (or any file) to target, replacing it; the copy can be written by
// everyone, the Firebird server included.
void CopyOut(const std::string& source, const std::string& target);

// True when both files exist with the same bytes.
bool SameContents(const std::string& a, const std::string& b);

// True when this process holds the file open (an embedded attachment does).
bool OpenInThisProcess(const std::string& file);

}  // namespace pelvar::test::dbcache
