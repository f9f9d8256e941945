#include "views/animations.h"

#include <QAbstractAnimation>
#include <QByteArray>
#include <QtGlobal>

namespace corvane {

bool animationsEnabled() { return qgetenv("CORVANE_NO_ANIM") != "1"; }

void startAnimation(QAbstractAnimation* animation) {
    animation->start();
    // A running animation moved to its last moment sets its end values and finishes.
    if (!animationsEnabled()) animation->setCurrentTime(animation->totalDuration());
}

}  // namespace corvane
