#pragma once

#include <cstddef>
#include <vector>

#include "platform/certificate/DerivedKeys.h"

namespace kiv::certificate {

// Hands out a key made ahead for the saves announced with AnnounceSaves: one like `request` (its
// salt aside) whose salt has `saltLength` bytes. Waits when such a key is being derived right
// now. Each key made ahead is handed out once, so no salt serves two encryptions. False when no
// saves are announced, the request differs from what was announced, or none is left.
bool TakeKeyMadeAhead(const KeyRequest& request, std::size_t saltLength, std::vector<unsigned char>& salt,
                      SecureBytes& key);

}  // namespace kiv::certificate
