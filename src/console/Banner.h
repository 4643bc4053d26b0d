// The banner the activity log starts with.
#pragma once

#include <QString>

namespace vostrel {

// Nine lines and two empty ones, each ending in CR LF.
QString BannerText();

}  // namespace vostrel
