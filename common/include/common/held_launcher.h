// A launcher that would win, held open, judged again and checked: what the
// start program starts and the hand-over hands over to under publisher
// pinning.
#pragma once

#include "common/launcher_judgement.h"
#include "common/publisher_check.h"
#include "common/publisher_keys.h"
#include "common/win_owners.h"

namespace kes {

// Opens the launcher that `judged` describes for reading, with writers and
// deleters kept out and a reparse point opened as itself, judges it again
// through that handle and checks its signature through the same handle.
// Passed only when the held file is the folder's own entry of that name (a
// link is Link), is still that launcher (another version, or no launcher at
// all, is Changed), is signed with one of `keys`, and pins one of them
// itself (KeysNotKept otherwise); then `held` keeps it open, so that the
// file judged and checked is the file started. Otherwise `held` is empty.
PublisherCheck holdAndCheckLauncher(const Candidate& judged, const PublisherKeys& keys, UniqueHandle& held);

// Trust carries over only through a launcher that keeps it: whether the
// keys a launcher's own version block pins share one with the caller's.
bool keepsPublisherKeys(const PublisherKeys& launcher, const PublisherKeys& caller);

// Whether a process created (suspended) from a held launcher's path runs
// the held file: the image the platform names for the process, opened as
// itself, is the same file (volume and file index) as the one held. A link
// repointed, or a name replaced from outside the share modes (another Wine
// server, a Unix process), between the check and the start is caught here.
bool runsHeldFile(HANDLE process, HANDLE held);

}  // namespace kes
