#pragma once

#include <QString>

// The service base address is kept without trailing "/" so that callers can
// append paths such as "/vazedo/RestService" directly.
namespace ServiceUrl {

QString withoutTrailingSlashes(QString url);

// The address a new mirror starts with: QUILLORA_SERVICE_URL when set and not
// empty (demos and black-box runs point a fresh profile at a local service),
// otherwise the address compiled in.
QString defaultUrl();

} // namespace ServiceUrl
