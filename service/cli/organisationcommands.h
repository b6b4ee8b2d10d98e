#pragma once
// Shared by the organisation's admin commands.

#include <QString>

#include <optional>

namespace vorna::service {

// "#RRGGBB" as the stored 0x00BBGGRR; nullopt for anything else.
std::optional<int> colorFromText(const QString &text);
// The stored 0x00BBGGRR as "#RRGGBB".
QString colorText(int color);

} // namespace vorna::service
