#pragma once
// Tab in the order a person sees the controls. Qt's Tab chain follows the order
// widgets were made, so a row built again later (a device that came, a member
// approved) would come last, after everything below it. These put the chain back
// in the order the layouts show the controls: top to bottom, left to right in a row.

#include <vector>

class QWidget;

namespace corvane {

// The Tab stops inside root in the order its layouts show them; a scroll area's content
// counts as where the scroll area lies, and a Tab stop's own insides are its own.
std::vector<QWidget*> tabStopsInLayoutOrder(QWidget* root);

// Chains those Tab stops in that order (Tab passes over the hidden ones).
void chainTabOrder(QWidget* root);

}  // namespace corvane
