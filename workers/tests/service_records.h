// Service records as the launcher hands them to a front end.
#pragma once

#include <string>

#include "ombra/launcher/launcher.h"

namespace ombra::launcher::testing {

inline ServiceRecord text(std::string t, DWORD messageClass) {
    ServiceRecord r;
    r.kind = ServiceKind::SERVICE_TEXT;
    r.text = std::move(t);
    r.first = messageClass;
    return r;
}

inline ServiceRecord record(ServiceKind kind, DWORD first, DWORD second) {
    ServiceRecord r;
    r.kind = kind;
    r.first = first;
    r.second = second;
    return r;
}

}  // namespace ombra::launcher::testing
