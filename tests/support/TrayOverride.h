#pragma once

#include "app/TrayAvailability.h"

// Forces whether a notification area exists while it lives.
class TrayOverride {
public:
    explicit TrayOverride(bool available) { setTrayAvailableOverride(available); }
    ~TrayOverride() { setTrayAvailableOverride(std::nullopt); }
    TrayOverride(const TrayOverride &) = delete;
    TrayOverride &operator=(const TrayOverride &) = delete;
};
