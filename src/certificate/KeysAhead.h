#pragma once

#include <cstddef>
#include <vector>

#include "certificate/DerivedKeys.h"

namespace kiv::certificate {

// Hands out a key made ahead for the saves announced with AnnounceSaves: one like `request` (its
// salt aside) whose salt has `saltLength` bytes. Never waits: when none is ready, the save derives
// its own, and one being made meanwhile serves a later save. Each key made ahead is handed out
// once, so no salt serves two encryptions. False when no saves are announced, the request differs
// from what was announced, or no such key is ready.
bool TakeKeyMadeAhead(const KeyRequest& request, std::size_t saltLength, std::vector<unsigned char>& salt,
                      Secret& key);

// Waits until no key of the announcement in force is being made (for tests and benchmarks).
void WaitForKeysAhead();

}  // namespace kiv::certificate
