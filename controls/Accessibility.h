#pragma once

// What a screen reader learns of our own value controls (the knob, the up-down): a
// dial or spin box with its name, its value and its range.

namespace cantavel {

// Registers the descriptions with the accessibility framework; idempotent.
void installControlAccessibility();

} // namespace cantavel
