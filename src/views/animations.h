#pragma once
// Animations of the views. With CORVANE_NO_ANIM=1 in the environment every
// animation jumps to its end at once (same end values, same finished signal),
// which makes screenshots and tests independent of timing; nothing else changes.

class QAbstractAnimation;

namespace corvane {

// Whether animations run; read from the environment on every call.
bool animationsEnabled();

// Starts the animation, or runs it to its end at once when animations are off.
void startAnimation(QAbstractAnimation* animation);

}  // namespace corvane
