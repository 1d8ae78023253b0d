#pragma once

#include <QIcon>

// The two images of the automatic mode's switch, 16 x 16 pixels: an unlit bulb and a lit one with rays.
// QIcon derives the greyed image for the disabled state.
namespace LightBulbs {

QIcon unlit();
QIcon lit();

} // namespace LightBulbs
