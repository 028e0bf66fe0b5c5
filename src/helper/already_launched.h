#pragma once

#include "helper/helper_platform.h"

// True when another running application carries our bundle name as its
// display name: a helper is already serving this user.
bool alreadyLaunched(const HelperPlatform& platform);
