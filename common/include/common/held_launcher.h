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
// deleters kept out, judges it again through that handle and checks its
// signature through the same handle. Passed only when the held file is still that launcher (another
// version, or no launcher at all, is Changed) and is signed with one of
// `keys`; then `held` keeps it open, so that the file judged and checked is
// the file started. Otherwise `held` is empty.
PublisherCheck holdAndCheckLauncher(const Candidate& judged, const PublisherKeys& keys, UniqueHandle& held);

}  // namespace kes
