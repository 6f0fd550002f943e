#pragma once

// What a screen reader learns of our controls:
//  - the knob and the up-down: a dial or spin box with its name, value and range; the
//    up-down's arrows are "<name> up" and "<name> down";
//  - a drop-down list: named by its label (its accessible name, else the label that has
//    it as buddy), its current item told as its text; Qt's own description names it by
//    the current item, so a reader would say "AUTO" where the operator looks for
//    "Input";
//  - a slider that stands at minus the value it shows (see showNegatedValue).

class QSlider;

namespace cantavel {

// Registers the descriptions with the accessibility framework; idempotent. Those made
// before it (Qt's own) stay until their widget goes.
void installControlAccessibility();

// A slider whose position is minus the value it shows: a vertical tone slider stands at
// -10 at its top so that the highest tone is up. A screen reader then hears, and an
// assistive tool sets, the value shown, not the position.
void showNegatedValue(QSlider* slider);

} // namespace cantavel
