#pragma once

#include <QIcon>

namespace quenby {

/// The project's icon (the sample site's logo), with larger sizes scaled up pixel for pixel so
/// that the small drawing stays sharp in task bars and menus. Needs a QGuiApplication.
QIcon QuenbyIcon();

}  // namespace quenby
